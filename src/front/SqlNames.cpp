#include "front/SqlNames.h"

#include <map>

#include "cells/KvText.h"
#include "front/PathNames.h"

std::string CutName(std::string_view name, std::size_t maxBytes) {
  if (name.size() <= maxBytes) return std::string(name);
  std::size_t n = maxBytes;
  // Back over continuation bytes to the start of the sequence that does not fit.
  while (n > 0 && (std::uint8_t(name[n]) & 0xC0) == 0x80) --n;
  return std::string(name.substr(0, n));
}

std::string DatabaseTableName(std::string_view storedName, std::string_view sourcePath) {
  if (!storedName.empty() && storedName != "UNNAMED") return std::string(storedName);
  std::string_view file = sourcePath.substr(FileNamePartStart(sourcePath));
  const std::size_t dot = file.find_last_of('.');
  if (dot != std::string_view::npos && dot > 0) file = file.substr(0, dot);
  return file.empty() ? std::string("UNNAMED") : std::string(file);
}

namespace {

// As TakeUniqueName, trying suffixes from *Next on and leaving *Next past the one used
// (a file may repeat one name thousands of times).
std::string TakeFrom(const std::string& base, std::set<std::string>& taken, std::size_t maxBytes,
                     int* next) {
  std::string name = CutName(base, maxBytes);
  int k = next != nullptr ? *next : 2;
  if (next != nullptr || taken.count(LowerAscii(name)) != 0) {
    for (;; ++k) {
      const std::string suffix = "_" + std::to_string(k);
      name = CutName(base, maxBytes - suffix.size()) + suffix;
      if (taken.count(LowerAscii(name)) == 0) break;
    }
    if (next != nullptr) *next = k + 1;
  }
  taken.insert(LowerAscii(name));
  return name;
}

}  // namespace

std::string TakeUniqueName(const std::string& base, std::set<std::string>& taken,
                           std::size_t maxBytes) {
  return TakeFrom(base, taken, maxBytes, nullptr);
}

std::size_t MakeNamesUnique(std::vector<std::string>& names, std::size_t maxBytes) {
  // Every name as given is taken from the start, so that "A_2" given by the file keeps
  // its name and a repeated "A" becomes "A_3".
  std::set<std::string> taken, seen;
  for (const std::string& n : names) taken.insert(LowerAscii(CutName(n, maxBytes)));
  std::map<std::string, int> next;  // by the lower-cased name repeated
  std::size_t renamed = 0;
  for (std::string& n : names) {
    std::string cut = CutName(n, maxBytes);
    std::string key = LowerAscii(cut);
    if (seen.insert(key).second) {
      n = std::move(cut);
      continue;
    }
    auto at = next.try_emplace(std::move(key), 2).first;
    n = TakeFrom(n, taken, maxBytes, &at->second);
    seen.insert(LowerAscii(n));
    ++renamed;
  }
  return renamed;
}

std::string IndexName(std::string_view table, std::string_view keyName,
                      std::set<std::string>& taken, std::size_t maxBytes) {
  const std::size_t colon = keyName.find(':');
  if (colon != std::string_view::npos) keyName.remove_prefix(colon + 1);
  return TakeUniqueName(std::string(table) + "_" + std::string(keyName), taken, maxBytes);
}
