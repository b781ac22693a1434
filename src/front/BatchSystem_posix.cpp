// Folder listing, folders, temporary files and process start through the POSIX calls.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "cells/KvExceptions.h"
#include "front/BatchSystem.h"

extern char** environ;

TPathKind PathKindOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return TPathKind::Missing;
  return S_ISDIR(st.st_mode) ? TPathKind::Folder : TPathKind::File;
}

std::vector<TFolderEntry> ListFolder(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) throw EFOpenError("Cannot read folder " + folder);
  std::vector<TFolderEntry> entries;
  while (const dirent* d = readdir(dir)) {
    const std::string name = d->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    // lstat: a link to a folder is not descended into (no loops); a link to a file is
    // read as the file.
    const std::string path = folder + "/" + name;
    if (lstat(path.c_str(), &st) != 0) continue;
    TFolderEntry e;
    e.Name = name;
    e.IsFolder = S_ISDIR(st.st_mode);
    if (S_ISLNK(st.st_mode) && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    e.Size = std::uint64_t(st.st_size);
    entries.push_back(std::move(e));
  }
  closedir(dir);
  return entries;
}

void MakeFolders(const std::string& path) {
  if (path.empty() || PathKindOf(path) == TPathKind::Folder) return;
  const std::size_t cut = path.find_last_of('/', path.size() - 2);
  if (cut != std::string::npos && cut > 0) MakeFolders(path.substr(0, cut));
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
    throw EFCreateError("Cannot create folder " + path);
}

bool IsPathSeparator(char c) { return c == '/'; }

std::string MakeTempFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/veltro-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    throw EFCreateError("Cannot create a temporary folder in " + pattern);
  return pattern;
}

void RemoveTempFolder(const std::string& path) {
  for (const TFolderEntry& e : ListFolder(path)) unlink((path + "/" + e.Name).c_str());
  rmdir(path.c_str());
}

void RemoveFile(const std::string& path) { unlink(path.c_str()); }

TChildEnd RunChildProgram(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& outPath, const std::string& errPath) {
  TChildEnd end;
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = 0;
  const int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    end.StartError = "Cannot start " + program;
    return end;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      end.StartError = "Lost the process converting the file";
      return end;
    }
  }
  if (WIFEXITED(status)) end.ExitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) end.Signal = WTERMSIG(status);
  return end;
}

bool StandardErrorIsTerminal() { return isatty(2) == 1; }
