// Helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// ../shared/samples beside the repository, or "" when it is absent.
std::string SamplesDir();
// A fresh temporary directory, removed with its content on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
void WriteFileText(const std::string& path, const std::string& text);
bool PathExists(const std::string& path);

// Runs a program (args[0], a path) with the arguments; captures standard output and
// error separately. POSIX builds only: the Windows build of the tests does not run
// programs.
struct ProcessResult {
  int exitCode = -1;  // -1 when killed by a signal
  int signal = 0;
  std::string out;
  std::string err;
  std::int64_t peakMemoryKb = 0;  // the program's peak resident memory; 0: not known
};
ProcessResult RunProcess(const std::vector<std::string>& args, const std::string& workDir = "",
                         int timeoutSeconds = 60);
// The built veltro program, or the program named by VELTRO_UNDER_TEST when set.
std::string VeltroBinary();
