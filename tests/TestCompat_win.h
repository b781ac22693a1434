// The POSIX environment calls the tests use, for the Windows build of the tests
// (included ahead of every test source by the build).
#pragma once

#include <cstdlib>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && std::getenv(name)) return 0;
  return _putenv_s(name, value);
}

// Setting a variable to the empty text removes it.
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }
