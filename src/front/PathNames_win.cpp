#include <windows.h>

#include "cells/KvExceptions.h"
#include "front/PathNames.h"

char PathSeparator() { return '\\'; }

void MakeDirectory(const std::string& path) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  throw EFCreateError("Cannot create folder " + path);
}
