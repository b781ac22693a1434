#include "front/BatchFiles.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "cells/KvExceptions.h"
#include "cells/KvText.h"
#include "front/BatchSystem.h"
#include "front/PathNames.h"
#include "front/RunOptions.h"

namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  if (IsPathSeparator(last) || (PathSeparator() == '\\' && last == ':')) return folder + name;
  return folder + PathSeparator() + name;
}

void Collect(const std::string& folder, const std::string& relative, std::string_view pattern,
             bool recurse, std::vector<TBatchFile>& files) {
  for (const TFolderEntry& e : ListFolder(folder)) {
    const std::string path = JoinPath(folder, e.Name);
    const std::string below = relative.empty() ? e.Name : relative + PathSeparator() + e.Name;
    if (e.IsFolder) {
      if (recurse) Collect(path, below, pattern, recurse, files);
    } else if (WildcardMatches(pattern, e.Name)) {
      files.push_back(TBatchFile{path, below, e.Size});
    }
  }
}

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return LowerAscii(a[i]) < LowerAscii(b[i]);
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;  // names differing in case only keep one order
}

// The output-form switches and the extension of what they write; the last one given
// decides. Text is the default.
struct TFormExtension {
  std::string_view Switch;  // upper case, the whole argument
  std::string_view Extension;
};
constexpr TFormExtension kFormExtensions[] = {
    {"/CSV", ".csv"},        {"/FORMAT=TEXT", ".txt"},
    {"/FORMAT=CSV", ".csv"}, {"/FORMAT=JSONL", ".jsonl"},
    {"/FORMAT=SQL", ".sql"}, {"/FORMAT=SQLITE", ".sqlite"},
};

// Switches of the folder run itself, not handed to the run on one file.
bool IsFolderRunSwitch(const std::string& upper) {
  return StartsWith(upper, "/JOBS=") || upper == "/RECURSE" || upper == "/PROGRESS" ||
         StartsWith(upper, "/RUNSTATS=") || StartsWith(upper, "/TABLENAMESTO=") ||
         StartsWith(upper, "/RENAMETABLES=");
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    line.resize(TrimEnd(line, [](char c) { return c == '\r' || c == ' '; }).size());
    if (!line.empty()) lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += (out.empty() ? "" : " ") + l;
  return out;
}

}  // namespace

bool HasWildcard(std::string_view path) {
  return path.find_first_of("*?", FileNamePartStart(path)) != std::string_view::npos;
}

bool WildcardMatches(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0;
  std::size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      // The last "*" takes one more character.
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<TBatchFile> ExpandSource(const std::string& source, bool recurse) {
  std::string folder = source, pattern = "*.tps";
  if (PathKindOf(source) != TPathKind::Folder) {
    const std::size_t cut = FileNamePartStart(source);
    pattern = source.substr(cut);
    folder = cut == 0 ? std::string(".") : source.substr(0, cut);
    if (PathKindOf(folder) != TPathKind::Folder) return {};
  }
  std::vector<TBatchFile> files;
  Collect(folder, "", pattern, recurse, files);
  std::sort(files.begin(), files.end(), [](const TBatchFile& a, const TBatchFile& b) {
    return LessIgnoringCase(a.Relative, b.Relative);
  });
  return files;
}

std::string OutputExtension(const std::vector<std::string>& arguments) {
  std::string_view extension = ".txt";
  for (std::size_t i = 2; i < arguments.size(); ++i) {
    const std::string upper = UpperAscii(arguments[i]);
    for (const TFormExtension& f : kFormExtensions)
      if (upper == f.Switch) extension = f.Extension;
  }
  return std::string(extension);
}

bool TargetIsFolder(const std::string& target) {
  return (!target.empty() && IsPathSeparator(target.back())) ||
         PathKindOf(target) == TPathKind::Folder;
}

std::string TargetInFolder(const std::string& folder, const std::string& relative,
                           const std::string& extension) {
  std::string stem = relative;
  const std::size_t dot = stem.rfind('.');
  if (dot != std::string::npos && dot > FileNamePartStart(stem)) stem.resize(dot);
  return JoinPath(folder, stem + extension);
}

std::vector<std::string> FileRunArguments(const std::string& program,
                                          const std::vector<std::string>& arguments,
                                          const TBatchFile& file, const std::string& target,
                                          const std::string& statsPath) {
  std::vector<std::string> out{program, file.Path, target};
  // The second argument is a switch when no target was given (a list).
  const bool secondIsSwitch = arguments.size() > 1 && FindSwitch(arguments[1], true) != nullptr;
  for (std::size_t i = secondIsSwitch ? 1 : 2; i < arguments.size(); ++i)
    if (!IsFolderRunSwitch(UpperAscii(arguments[i]))) out.push_back(arguments[i]);
  out.push_back("/RUNSTATS=" + statsPath);
  return out;
}

bool TargetIsDatabase(const std::string& target) {
  return !target.empty() && !TargetIsFolder(target);
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& n : names) text += std::to_string(n.size()) + ":" + n;
  return text;
}

bool SplitNames(std::string_view text, std::vector<std::string>& names) {
  names.clear();
  while (!text.empty()) {
    std::size_t length = 0, p = 0;
    for (; p < text.size() && p < 10 && text[p] >= '0' && text[p] <= '9'; ++p)
      length = length * 10 + std::size_t(text[p] - '0');
    if (p == 0 || p >= text.size() || text[p] != ':' || text.size() - p - 1 < length) return false;
    names.emplace_back(text.substr(p + 1, length));
    text.remove_prefix(p + 1 + length);
  }
  return true;
}

std::string TablePrefixOf(const std::string& relative) {
  std::string prefix = TargetInFolder("", relative, "");
  for (char& c : prefix)
    if (IsPathSeparator(c)) c = '_';
  return prefix;
}

std::vector<TRenames> SharedNameRenames(const std::vector<std::vector<std::string>>& names,
                                        const std::vector<std::string>& prefixes) {
  std::map<std::string, std::size_t> files;  // lower-cased name -> the files giving it
  for (const std::vector<std::string>& list : names)
    for (const std::string& n : list) ++files[LowerAscii(n)];
  // The names kept as they are, then each new one, are taken.
  std::set<std::string> taken;
  for (const auto& [name, count] : files)
    if (count == 1) taken.insert(name);
  std::vector<TRenames> renames(names.size());
  for (std::size_t i = 0; i < names.size(); ++i)
    for (const std::string& n : names[i]) {
      if (files[LowerAscii(n)] < 2) continue;
      const std::string base = prefixes[i] + "_" + n;
      std::string name = base;
      for (int k = 2; !taken.insert(LowerAscii(name)).second; ++k)
        name = base + "_" + std::to_string(k);
      renames[i].emplace_back(n, name);
    }
  return renames;
}

std::string ReadWholeFile(const std::string& path) {
  std::string text;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
    std::fclose(f);
  }
  return text;
}

void WriteWholeFile(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  const bool written = f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (f == nullptr || std::fclose(f) != 0 || !written)
    throw EFCreateError("Cannot create file " + path);
}

std::string FailureMessage(const std::string& out, const std::string& err, int exitCode,
                           int signal) {
  std::vector<std::string> lines;
  for (std::string& l : LinesOf(out))
    if (!(StartsWith(l, "Exception ") && l.find(" in module ") != std::string::npos))
      lines.push_back(std::move(l));
  if (lines.empty()) lines = LinesOf(err);
  if (!lines.empty()) return Joined(lines);
  if (signal != 0) return "The conversion ended on signal " + std::to_string(signal) + ".";
  return "The conversion ended with exit code " + std::to_string(exitCode) + ".";
}

std::string SummaryLine(const TBatchTotals& t, double seconds) {
  char text[256];
  std::snprintf(text, sizeof text,
                "Converted %zu of %zu files (%llu tables, %llu rows) in %.1f s; %zu failed.",
                t.Converted, t.Files, static_cast<unsigned long long>(t.Tables),
                static_cast<unsigned long long>(t.Rows), seconds, t.Done - t.Converted);
  return text;
}

std::string ProgressLine(const TBatchTotals& t, double seconds) {
  char text[256];
  const double mb = 1024.0 * 1024.0;
  std::snprintf(text, sizeof text, "Files %zu of %zu, %.1f of %.1f MB, %.0f rows/s", t.Done,
                t.Files, double(t.BytesDone) / mb, double(t.BytesAll) / mb,
                seconds > 0 ? double(t.Rows) / seconds : 0.0);
  return text;
}
