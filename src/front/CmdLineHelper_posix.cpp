// The process command line on POSIX: the arguments arrive already split and are used
// as they are; the program's path comes from /proc/self/exe.
#include <unistd.h>

#include <climits>

#include "front/CmdLineHelper.h"

namespace {

int g_argc = 0;
char** g_argv = nullptr;

}  // namespace

void SetProcessArgs(int argc, char** argv) {
  g_argc = argc;
  g_argv = argv;
}

int CmdLineParamCount() { return g_argc > 1 ? g_argc - 1 : 0; }

std::string CmdLineParamStr(int i) {
  if (i <= 0) return ProgramFilePath();
  if (i >= g_argc || g_argv == nullptr || g_argv[i] == nullptr) return "";
  return g_argv[i];
}

std::string ProgramFilePath() {
  char buf[PATH_MAX + 1];
  const ssize_t got = readlink("/proc/self/exe", buf, PATH_MAX);
  if (got > 0) return std::string(buf, std::size_t(got));
  if (g_argc > 0 && g_argv != nullptr && g_argv[0] != nullptr) return g_argv[0];
  return "";
}
