#include "front/BlobFiles.h"

#include <algorithm>

#include "cells/KvBinaryText.h"
#include "cells/KvFileWriter.h"
#include "front/OutputPaths.h"
#include "front/PathNames.h"

std::string BlobFolderFor(const std::string& target) {
  std::string name = target.substr(FileNamePartStart(target));
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return target.substr(0, FileNamePartStart(target)) + name + ".blobs";
}

TBlobFiles::TBlobFiles(const std::string& target)
    : folder_(BlobFolderFor(target)),
      prefix_(folder_.substr(FileNamePartStart(folder_)) + PathSeparator()) {}

void TBlobFiles::BeginTable(std::string_view table) { table_ = table; }

void TBlobFiles::Write(std::string& out, std::string_view field, std::int64_t record,
                       std::string_view bytes) {
  name_ = table_;
  name_ += '.';
  name_ += field;
  name_ += '.';
  name_ += std::to_string(record);
  name_ += '.';
  name_ += ExtensionForContent(bytes);
  const std::string name = SanitizeTableName(name_);
  if (!folderMade_) {
    MakeDirectory(folder_);
    folderMade_ = true;
  }
  TBufferedFileWriter file(folder_ + PathSeparator() + name,
                           std::min<std::size_t>(bytes.size() + 1, std::size_t(1) << 20));
  file.Write(bytes);
  file.Close();
  out += prefix_;
  out += name;
}
