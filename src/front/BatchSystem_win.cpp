// Folder listing, folders, temporary files and process start through the Win32 calls.
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <mutex>

#include "cells/KvExceptions.h"
#include "front/BatchSystem.h"
#include "front/CmdLineHelper.h"

TPathKind PathKindOf(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return TPathKind::Missing;
  return (a & FILE_ATTRIBUTE_DIRECTORY) ? TPathKind::Folder : TPathKind::File;
}

std::vector<TFolderEntry> ListFolder(const std::string& folder) {
  std::string pattern = folder;
  if (!pattern.empty() && !IsPathSeparator(pattern.back()) && pattern.back() != ':')
    pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA d;
  HANDLE h = FindFirstFileA(pattern.c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return {};
    throw EFOpenError("Cannot read folder " + folder);
  }
  std::vector<TFolderEntry> entries;
  do {
    const std::string name = d.cFileName;
    if (name == "." || name == "..") continue;
    const bool folderEntry = (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A junction or link to a folder is not descended into (no loops).
    if (folderEntry && (d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    TFolderEntry e;
    e.Name = name;
    e.IsFolder = folderEntry;
    e.Size = (std::uint64_t(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
    entries.push_back(std::move(e));
  } while (FindNextFileA(h, &d));
  FindClose(h);
  return entries;
}

void MakeFolders(const std::string& path) {
  if (path.empty() || PathKindOf(path) == TPathKind::Folder) return;
  std::size_t cut = path.size() - 1;
  while (cut > 0 && IsPathSeparator(path[cut])) --cut;  // trailing separators
  cut = path.find_last_of("\\/", cut);
  if (cut != std::string::npos && cut > 0 && path[cut - 1] != ':') MakeFolders(path.substr(0, cut));
  if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    throw EFCreateError("Cannot create folder " + path);
}

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

std::string MakeTempFolder() {
  char base[MAX_PATH + 1];
  const DWORD got = GetTempPathA(MAX_PATH, base);
  const std::string dir = got > 0 && got <= MAX_PATH ? std::string(base, got) : ".\\";
  for (unsigned k = 0; k < 1000; ++k) {
    const std::string path = dir + "veltro-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(GetTickCount() + k);
    if (CreateDirectoryA(path.c_str(), nullptr)) return path;
  }
  throw EFCreateError("Cannot create a temporary folder in " + dir);
}

void RemoveTempFolder(const std::string& path) {
  for (const TFolderEntry& e : ListFolder(path)) DeleteFileA((path + "\\" + e.Name).c_str());
  RemoveDirectoryA(path.c_str());
}

void RemoveFile(const std::string& path) { DeleteFileA(path.c_str()); }

namespace {

// Handles made inheritable for one child exist only while this lock is held, so that no
// child started by another thread inherits them (and keeps the files open).
std::mutex g_startLock;

HANDLE OpenInheritable(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, write ? CREATE_ALWAYS : OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

TChildEnd RunChildProgram(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& outPath, const std::string& errPath) {
  TChildEnd end;
  std::string line;
  for (const std::string& a : arguments) {
    if (!line.empty()) line += ' ';
    line += QuoteCmdLineArgument(a);
  }
  PROCESS_INFORMATION pi{};
  {
    std::lock_guard<std::mutex> lock(g_startLock);
    HANDLE in = OpenInheritable("NUL", false);
    HANDLE out = OpenInheritable(outPath, true);
    HANDLE err = OpenInheritable(errPath, true);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    const BOOL started = out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
                         CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
    for (HANDLE h : {in, out, err})
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (!started) {
      end.StartError = "Cannot start " + program;
      return end;
    }
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  end.ExitCode = int(code);
  return end;
}

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }
