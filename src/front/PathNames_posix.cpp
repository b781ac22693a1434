#include <sys/stat.h>

#include "cells/KvExceptions.h"
#include "front/PathNames.h"

char PathSeparator() { return '/'; }

void MakeDirectory(const std::string& path) {
  struct stat st {};
  if (mkdir(path.c_str(), 0777) == 0 || (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
    return;
  throw EFCreateError("Cannot create folder " + path);
}
