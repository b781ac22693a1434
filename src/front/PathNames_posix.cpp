#include "front/PathNames.h"

#include <cstdio>
#include <unistd.h>

std::size_t FileNamePartStart(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? 0 : slash + 1;
}

bool ReplaceFileWith(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

void RemoveFileQuietly(const std::string& path) { unlink(path.c_str()); }
