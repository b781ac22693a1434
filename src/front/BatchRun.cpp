#include "front/BatchRun.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "cells/KvExceptions.h"
#include "front/BatchFiles.h"
#include "front/BatchSystem.h"
#include "front/CmdLineHelper.h"
#include "front/PathNames.h"
#include "front/VeltroMain.h"

namespace {

using TClock = std::chrono::steady_clock;

// What the run on one file left behind.
struct TFileResult {
  bool Done = false;
  bool Converted = false;
  std::string Out, Err, Message;
  std::uint64_t Tables = 0, Rows = 0;
};

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

// The progress line on standard error: rewritten in place on a terminal, plain lines
// (at most one a second) elsewhere with /PROGRESS; nothing otherwise.
class TProgress {
 public:
  TProgress(bool terminal, bool asked) : terminal_(terminal), on_(terminal || asked) {}

  void Show(const TBatchTotals& totals, bool last) {
    if (!on_) return;
    const auto now = TClock::now();
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    if (terminal_) {
      // Only work that takes longer than a second shows progress.
      if (elapsed < 1.0 || (!last && now - shown_ < std::chrono::milliseconds(250))) return;
      std::string line = "\r" + ProgressLine(totals, elapsed);
      if (line.size() < width_) line.append(width_ - line.size(), ' ');
      width_ = line.size();
      if (last) line += "\n";
      WriteRaw(line);
      open_ = !last;
    } else {
      if (!last && shown_ != TClock::time_point{} && now - shown_ < std::chrono::seconds(1)) return;
      WriteRaw(ProgressLine(totals, elapsed) + "\r\n");
    }
    shown_ = now;
  }
  // Clears the line in place before other text goes to the console.
  void Clear() {
    if (!open_) return;
    WriteRaw("\r" + std::string(width_ > 0 ? width_ - 1 : 0, ' ') + "\r");
    open_ = false;
    shown_ = TClock::time_point{};  // shown again on the next update
  }

 private:
  static void WriteRaw(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  }
  const bool terminal_, on_;
  bool open_ = false;
  std::size_t width_ = 0;
  const TClock::time_point start_ = TClock::now();
  TClock::time_point shown_{};
};

std::string ParentFolderOf(const std::string& path) {
  const std::size_t cut = FileNamePartStart(path);
  return cut == 0 ? std::string() : path.substr(0, cut);
}

}  // namespace

bool IsFolderSource(const std::string& source) {
  const TPathKind kind = PathKindOf(source);
  return kind == TPathKind::Folder || (kind == TPathKind::Missing && HasWildcard(source));
}

int RunFolder(const TRunOptions& o, const std::vector<std::string>& arguments) {
  const auto start = TClock::now();
  const std::vector<TBatchFile> files = ExpandSource(o.Source, o.Recurse);
  if (files.empty()) {
    // The message of a missing single file: scripts know it and its exit code.
    WriteConsoleLine("TopSpeed TPS file not found.");
    return ecNotFound;
  }
  // A list writes no files: its target is not looked at.
  if (!o.ListOnly) {
    if (o.Target == kStandardOutputTarget)
      throw Exception(
          "The files of a folder or pattern go into a target folder, not to "
          "standard output");
    if (PathKindOf(o.Target) == TPathKind::File)
      throw EFCreateError("The target " + o.Target +
                          " is a file: the files of a folder or pattern go into a target folder");
    MakeFolders(o.Target);
  }
  const std::string extension = OutputExtension(arguments);
  const std::string program = ProgramFilePath();
  const std::string temp = MakeTempFolder();
  struct TRemoveTemp {
    const std::string& Path;
    ~TRemoveTemp() { RemoveTempFolder(Path); }
  } removeTemp{temp};

  std::vector<TFileResult> results(files.size());
  TBatchTotals totals;
  totals.Files = files.size();
  for (const TBatchFile& f : files) totals.BytesAll += f.Size;
  std::mutex lock;
  std::condition_variable changed;
  std::atomic<std::size_t> next{0};

  auto convert = [&](std::size_t i) {
    TFileResult r;
    const std::string base = temp + PathSeparator() + std::to_string(i);
    try {
      const std::string target = TargetInFolder(o.Target, files[i].Relative, extension);
      if (!o.ListOnly && o.Recurse) MakeFolders(ParentFolderOf(target));
      const TChildEnd end = RunChildProgram(
          program, FileRunArguments(program, arguments, files[i], target, base + ".stats"),
          base + ".out", base + ".err");
      r.Out = ReadWholeFile(base + ".out");
      r.Err = ReadWholeFile(base + ".err");
      const std::string stats = ReadWholeFile(base + ".stats");
      for (const char* suffix : {".out", ".err", ".stats"}) RemoveFile(base + suffix);
      unsigned long long tables = 0, rows = 0;
      r.Converted = end.StartError.empty() && end.Signal == 0 && end.ExitCode == 0 &&
                    std::sscanf(stats.c_str(), "%llu %llu", &tables, &rows) == 2;
      r.Tables = tables;
      r.Rows = rows;
      if (!end.StartError.empty())
        r.Message = end.StartError;
      else if (!r.Converted)
        r.Message = FailureMessage(r.Out, r.Err, end.ExitCode, end.Signal);
    } catch (const Exception& e) {
      r.Converted = false;
      r.Message = e.Message();
    } catch (const std::exception& e) {
      r.Converted = false;
      r.Message = e.what();
    }
    r.Done = true;
    std::lock_guard<std::mutex> guard(lock);
    ++totals.Done;
    totals.BytesDone += files[i].Size;
    if (r.Converted) {
      ++totals.Converted;
      totals.Tables += r.Tables;
      totals.Rows += r.Rows;
    }
    results[i] = std::move(r);
    changed.notify_all();
  };

  unsigned jobs = o.Jobs != 0 ? o.Jobs : std::max(1u, std::thread::hardware_concurrency());
  if (jobs > files.size()) jobs = unsigned(files.size());
  std::vector<std::thread> workers;
  for (unsigned w = 0; w < jobs; ++w)
    workers.emplace_back([&] {
      for (std::size_t i; (i = next.fetch_add(1)) < files.size();) convert(i);
    });

  TProgress progress(!o.Quiet && StandardErrorIsTerminal(), !o.Quiet && o.Progress);
  // Passes on, in the files' order, what each run printed: a list under the file's name,
  // warnings with the file's name before them.
  std::size_t emitted = 0;
  auto emitReady = [&] {
    for (; emitted < files.size() && results[emitted].Done; ++emitted) {
      const TFileResult& r = results[emitted];
      const std::string& name = files[emitted].Path;
      if (r.Converted && !r.Out.empty()) {
        progress.Clear();
        WriteConsoleLine(name);
        std::fwrite(r.Out.data(), 1, r.Out.size(), stdout);
      }
      // A failure whose message came from standard error has it in the summary already.
      if (!o.Quiet && !r.Err.empty() && (r.Converted || !r.Out.empty())) {
        progress.Clear();
        std::size_t from = 0;
        while (from < r.Err.size()) {
          std::size_t end = r.Err.find('\n', from);
          if (end == std::string::npos) end = r.Err.size();
          std::string line = r.Err.substr(from, end - from);
          if (!line.empty() && line.back() == '\r') line.pop_back();
          if (!line.empty()) WriteWarningLine(name + ": " + line);
          from = end + 1;
        }
      }
    }
  };
  {
    std::unique_lock<std::mutex> guard(lock);
    while (totals.Done < files.size()) {
      changed.wait_for(guard, std::chrono::milliseconds(250));
      emitReady();
      progress.Show(totals, false);
    }
  }
  for (std::thread& t : workers) t.join();
  emitReady();
  progress.Show(totals, true);

  const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
  for (std::size_t i = 0; i < files.size(); ++i)
    if (!results[i].Converted) WriteConsoleLine(files[i].Path + ": " + results[i].Message);
  WriteConsoleLine(SummaryLine(totals, seconds));
  return totals.Converted == totals.Files ? ecDone : ecFailure;
}
