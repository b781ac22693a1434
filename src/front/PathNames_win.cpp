#include "front/PathNames.h"

#include <windows.h>

std::size_t FileNamePartStart(std::string_view path) {
  // "\" and "/" both separate directories; ":" ends a drive ("C:data.txt").
  const std::size_t cut = path.find_last_of("\\/:");
  return cut == std::string_view::npos ? 0 : cut + 1;
}

bool ReplaceFileWith(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void RemoveFileQuietly(const std::string& path) { DeleteFileA(path.c_str()); }
