// The paths of a run's output files: derived from the target and the table name, and
// made unique within the run so that no table replaces another table's output or the
// source file.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>

// A table name made safe for a file name: "/", "\", ":" and control characters (on
// Windows also < > " | ? *) become "_"; a name of dots only becomes "_".
std::string SanitizeTableName(std::string_view name);
// The output path of a table: Target itself for an empty or "UNNAMED" name,
// otherwise Target's directory + its stem + "." + the (sanitised) name + its extension.
std::string OutputPathFor(const std::string& target, const std::string& tableName);
// Inserts "." + Tag before the extension of the file-name part of Path.
std::string InsertBeforeExtension(const std::string& path, std::string_view tag);

// The files a run has written, and its source, by path and by identity.
class TOutputPaths {
 public:
  // Marks Path (an existing file) as taken.
  void Remember(const std::string& path);
  // Whether Path names a file already taken, under this path or another one.
  bool AlreadyUsed(const std::string& path) const;
  // Derived itself when it is free; otherwise Derived with ".<tableNumber>" before its
  // extension, then ".<tableNumber>-2", "-3" and so on until a free one.
  std::string Unique(const std::string& derived, std::int32_t tableNumber) const;

 private:
  std::set<std::string> paths_;  // in the form under which paths compare
  std::set<std::pair<dev_t, ino_t>> files_;
};
