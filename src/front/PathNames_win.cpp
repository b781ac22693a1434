#include "front/PathNames.h"

std::size_t FileNamePartStart(std::string_view path) {
  // "\" and "/" both separate directories; ":" ends a drive ("C:data.txt").
  const std::size_t cut = path.find_last_of("\\/:");
  return cut == std::string_view::npos ? 0 : cut + 1;
}
