#include "front/PathNames.h"

namespace {

// "\" and "/" both separate directories on Windows, and ":" ends a drive
// ("C:data.txt").
#ifdef _WIN32
constexpr const char* kSeparators = "\\/:";
#else
constexpr const char* kSeparators = "/";
#endif

}  // namespace

std::size_t FileNamePartStart(std::string_view path) {
  const std::size_t cut = path.find_last_of(kSeparators);
  return cut == std::string_view::npos ? 0 : cut + 1;
}
