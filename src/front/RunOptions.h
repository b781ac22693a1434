// The run options: what the switches of the command line ask for, with their
// defaults, the switch parser and the usage text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The one-character NUL text: "no delimiter" / "no qualifier".
inline const std::string kNoneMarker(1, '\0');

struct TRunOptions {
  std::string Source;
  std::string Target;
  std::string Delimiter = "\t";
  std::string Qualifier = kNoneMarker;
  std::string RecordSeparator = "\r\n";
  bool Fixed = false;
  bool Header = false;
  bool TypeLine = false;
  bool SkipGroups = false;
  // Empty, or lower-cased field names each followed by ";".
  std::string Fields;
  std::string Filter;
  std::string TableName;
  bool ListOnly = false;
  // The owner password of an encrypted file ("/OWNER=" or "/OWNERENV="); unset when
  // neither switch was given.
  std::optional<std::string> Owner;
  // A folder or pattern source: workers at once (0: one per core), subfolders too.
  unsigned Jobs = 0;
  bool Recurse = false;
  // Progress lines on standard error even when it is no terminal.
  bool Progress = false;
  // No progress and no warnings (a failure is still reported).
  bool Quiet = false;
  // When set, a finished run writes "<tables> <rows>" to this file (how a folder run
  // learns what the run on one of its files converted).
  std::string RunStatsPath;
};

// Applies one argument to the options when it is a switch; anything else (the two
// paths included) is ignored. A later switch overrides an earlier one. The backslash
// form of a bad number fails with EConvertError "'%s' is not a valid integer value".
void ApplySwitch(TRunOptions& options, const std::string& argument);

// Reads the options from the arguments after the program (at least two): the first
// is Source, the second Target, and every argument, these two included, is tested as
// a switch in order.
TRunOptions ParseRunOptions(const std::vector<std::string>& arguments);

// The backslash form of Delimiter and Qualifier: "\<integer>" becomes the one
// character whose code is the low 8 bits of the integer; other values are unchanged.
std::string ApplyBackslashForm(const std::string& value);

// The usage text, every line ended by CR LF, followed by one line naming the owner
// password switches.
std::string UsageText();
