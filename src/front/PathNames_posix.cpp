#include "front/PathNames.h"

std::size_t FileNamePartStart(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? 0 : slash + 1;
}
