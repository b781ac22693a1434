// The POSIX environment and clock calls the tests use, for the Windows build of the tests
// (included ahead of every test source by the build).
#pragma once

#include <cstdlib>
#include <ctime>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && std::getenv(name)) return 0;
  return _putenv_s(name, value);
}

// Setting a variable to the empty text removes it.
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }

#if !defined(_POSIX_THREAD_SAFE_FUNCTIONS)
inline std::tm* localtime_r(const std::time_t* time, std::tm* result) {
  return localtime_s(result, time) == 0 ? result : nullptr;
}
#endif
