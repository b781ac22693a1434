#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "cells/KvExceptions.h"
#include "front/PathNames.h"

bool ReplaceFileWith(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

void RemoveFileQuietly(const std::string& path) { unlink(path.c_str()); }

char PathSeparator() { return '/'; }

bool FileNamesAreUtf8() { return true; }

void MakeDirectory(const std::string& path) {
  struct stat st {};
  if (mkdir(path.c_str(), 0777) == 0 || (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
    return;
  throw EFCreateError("Cannot create folder " + path);
}
