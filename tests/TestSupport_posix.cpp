// Temporary directories and running the program, through the POSIX calls.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "TestSupport.h"

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "veltro-test-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

ProcessResult RunProcess(const std::vector<std::string>& args, const std::string& workDir,
                         int timeoutSeconds) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  ProcessResult r;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  bool killed = false;
  bool reaped = false;
  int status = 0;
  rusage usage{};
  while (open > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0 && !killed && !reaped) {
      kill(pid, SIGKILL);
      killed = true;
    }
    // Short slices, so that the end of the program is seen even when something it
    // started (a Wine service, say) still holds the pipes open.
    int n = poll(fds, 2, 200);
    if (!reaped && wait4(pid, &status, WNOHANG, &usage) == pid) {
      reaped = true;
      continue;  // read what is left before deciding the output is complete
    }
    if (n <= 0) {
      if (reaped) break;  // the program has ended and nothing more arrives
      continue;
    }
    for (auto& f : fds) {
      if (f.fd < 0 || !(f.revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[65536];
      ssize_t got = read(f.fd, buf, sizeof buf);
      if (got <= 0) {
        close(f.fd);
        f.fd = -1;
        --open;
      } else {
        (f.fd == outPipe[0] ? r.out : r.err).append(buf, std::size_t(got));
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  if (!reaped) wait4(pid, &status, 0, &usage);
  r.peakMemoryKb = usage.ru_maxrss;
  if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  return r;
}
