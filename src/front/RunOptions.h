// The run options: what the switches of the command line ask for, with their
// defaults, the switch parser and the usage text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The one-character NUL text: "no delimiter" / "no qualifier".
inline const std::string kNoneMarker(1, '\0');

// Which values the qualifier encloses: every non-empty one, or only those holding the
// delimiter, the qualifier, CR or LF.
enum class TQualify : std::uint8_t { All, Needed };
// How BLOB fields are written: their bytes, base64, hex, a file of their own each (the
// cell holds its path), or nothing.
enum class TBlobForm : std::uint8_t { Raw, Base64, Hex, Files, Omit };

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

  // Text for other tools (none of these changes the output when left at its default).
  // The code page of the file's texts (KvCodePage.h).
  std::uint32_t CodePage = 1252;
  // Every text written in UTF-8, transcoded from CodePage; Bom: a byte order mark first.
  bool Utf8 = false;
  bool Bom = false;
  TQualify Qualify = TQualify::All;
  TBlobForm Blob = TBlobForm::Raw;
  // Trailing blanks of fixed-length strings removed.
  bool Trim = false;
  // Values in forms that do not depend on the regional settings: ISO dates and times,
  // "." as the decimal separator, every DECIMAL with its exact digits and declared
  // decimals.
  bool IsoValues = false;
  // /CSV was given (refused together with Fixed).
  bool Csv = false;
  // LONG fields holding Clarion dates or times: empty, or lower-cased names each
  // followed by ";".
  std::string DateFields;
  std::string TimeFields;
};

// Applies one argument to the options when it is a switch; anything else (the two
// paths included) is ignored. A later switch overrides an earlier one. The backslash
// form of a bad number fails with EConvertError "'%s' is not a valid integer value".
void ApplySwitch(TRunOptions& options, const std::string& argument);

// Reads the options from the arguments after the program (at least two): the first
// is Source, the second Target, and every argument, these two included, is tested as
// a switch in order. A bad value of a switch of text for other tools, or /CSV with
// /FIXED, fails with a message naming it.
TRunOptions ParseRunOptions(const std::vector<std::string>& arguments);

// The backslash form of Delimiter and Qualifier: "\<integer>" becomes the one
// character whose code is the low 8 bits of the integer; other values are unchanged.
std::string ApplyBackslashForm(const std::string& value);

// The usage text, every line ended by CR LF, followed by one line naming the owner
// password switches and one naming the switches of text for other tools.
std::string UsageText();
