#include <windows.h>

#include "cells/KvExceptions.h"
#include "front/PathNames.h"

std::size_t FileNamePartStart(std::string_view path) {
  // "\" and "/" both separate directories; ":" ends a drive ("C:data.txt").
  const std::size_t cut = path.find_last_of("\\/:");
  return cut == std::string_view::npos ? 0 : cut + 1;
}

char PathSeparator() { return '\\'; }

void MakeDirectory(const std::string& path) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  throw EFCreateError("Cannot create folder " + path);
}
