// The process command line on Windows: the raw command-line string of the process
// (GetCommandLineA), split by NextCmdLineToken on every call; the program's path
// from GetModuleFileNameA. Standard output and error are switched to binary mode here,
// because the program's lines already end in CR LF and the C runtime's text mode would
// add a second CR.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "front/CmdLineHelper.h"

namespace {

// Runs before main: this unit is always linked with the program's entry, which reads
// its arguments through the functions below.
[[maybe_unused]] const bool g_binaryConsole = [] {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  return true;
}();

}  // namespace

void SetProcessArgs(int, char**) {
  // Nothing to keep: the arguments are split from the raw command line on each call.
}

int CmdLineParamCount() { return CmdLineParamCount(GetCommandLineA()); }

std::string CmdLineParamStr(int i) {
  if (i <= 0) return ProgramFilePath();
  return CmdLineParamStr(GetCommandLineA(), i);
}

std::string ProgramFilePath() {
  char buf[MAX_PATH + 1];
  const DWORD got = GetModuleFileNameA(nullptr, buf, MAX_PATH);
  return std::string(buf, got > MAX_PATH ? MAX_PATH : got);
}
