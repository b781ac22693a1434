#include <windows.h>

#include "cells/KvExceptions.h"
#include "front/PathNames.h"

bool ReplaceFileWith(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void RemoveFileQuietly(const std::string& path) { DeleteFileA(path.c_str()); }

char PathSeparator() { return '\\'; }

bool FileNamesAreUtf8() { return false; }

void MakeDirectory(const std::string& path) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  throw EFCreateError("Cannot create folder " + path);
}
