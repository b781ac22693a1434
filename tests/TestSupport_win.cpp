// Temporary directories for the Windows build of the tests. Running the program is
// left to the end-to-end tests, which run on the build machine against VELTRO.EXE.
#include <windows.h>

#include <filesystem>
#include <stdexcept>

#include "TestSupport.h"

namespace fs = std::filesystem;

TempDir::TempDir() {
  char base[MAX_PATH + 1];
  const DWORD n = GetTempPathA(MAX_PATH, base);
  if (n == 0 || n > MAX_PATH) throw std::runtime_error("GetTempPathA failed");
  // A fresh name from the process id, the clock and a counter; CreateDirectoryA
  // fails on an existing one, so a clash only moves on to the next name.
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string path = std::string(base) + "veltro-test-" +
                             std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(GetTickCount64()) + "-" + std::to_string(++counter);
    if (CreateDirectoryA(path.c_str(), nullptr)) {
      path_ = path;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}
