// The system calls a folder run needs: what a path is, listing a folder, making folders,
// starting the program itself on one file with its output captured, and whether standard
// error is a terminal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "front/PathNames.h"

enum class TPathKind { Missing, File, Folder };
TPathKind PathKindOf(const std::string& path);

struct TFolderEntry {
  std::string Name;
  bool IsFolder = false;  // a real folder (a link to one is not followed)
  std::uint64_t Size = 0;
};
// The entries of Folder, "." and ".." left out, in the order the system gives them.
// Fails with EFOpenError when the folder cannot be read.
std::vector<TFolderEntry> ListFolder(const std::string& folder);

// Creates Path and its missing parents. Fails with EFCreateError.
void MakeFolders(const std::string& path);

// Whether C separates folders in a path typed by the user.
bool IsPathSeparator(char c);

// A new private folder for temporary files, and its removal with what it holds (one
// level: the run puts only files there).
std::string MakeTempFolder();
void RemoveTempFolder(const std::string& path);
void RemoveFile(const std::string& path);

// How a started program ended: its exit code, or the signal that ended it.
struct TChildEnd {
  int ExitCode = -1;
  int Signal = 0;
  std::string StartError;  // set when the program could not be started
};
// Runs Program with Arguments (Arguments[0] is the program's own name), standard input
// empty, standard output and error written to the files OutPath and ErrPath; waits for
// it. Safe to call from several threads at once.
TChildEnd RunChildProgram(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& outPath, const std::string& errPath);

bool StandardErrorIsTerminal();
