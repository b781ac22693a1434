// BLOB values written as files of their own (/BLOB=FILES), the same for the text forms
// and the typed outputs: one file a value in the folder "<target stem>.blobs" beside the
// target, named <table>.<field>.<record number>.<extension by content>; the output holds
// the file's path relative to the target's folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The BLOB folder of a run: "<target stem>.blobs" beside the target.
std::string BlobFolderFor(const std::string& target);

class TBlobFiles {
 public:
  TBlobFiles() = default;
  explicit TBlobFiles(const std::string& target);
  // Starts a table: Table is its name as file names hold it.
  void BeginTable(std::string_view table);
  // Writes Bytes into the file of Field (as file names hold it) and Record, and appends
  // the file's relative path to Out. The folder is made with the first file.
  void Write(std::string& out, std::string_view field, std::int64_t record,
             std::string_view bytes);

 private:
  std::string folder_, prefix_, table_, name_;
  bool folderMade_ = false;
};
