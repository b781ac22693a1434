// The run options: what the switches of the command line ask for, with their
// defaults, the switch parser and the usage text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The one-character NUL text: "no delimiter" / "no qualifier".
inline const std::string kNoneMarker(1, '\0');

// The target that sends the converted table to standard output.
inline constexpr std::string_view kStandardOutputTarget = "-";
// The output form: delimited or fixed-width text, JSON Lines files, a SQLite database, or
// one SQL script for PostgreSQL.
enum class TOutputKind : std::uint8_t { Text, JsonLines, Sqlite, Sql };

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
  // The second argument when it is a switch and therefore no target.
  std::string TargetSwitch;
  // /FORMAT=: TEXT (the default), JSONL, SQLITE or SQL.
  TOutputKind Format = TOutputKind::Text;

  // Text for other tools (none of these changes the output when left at its default).
  // The code page of the file's texts (KvCodePage.h).
  std::uint32_t CodePage = 1252;
  // Every text written in UTF-8, transcoded from CodePage; Bom: a byte order mark first.
  bool Utf8 = false;
  bool Bom = false;
  TQualify Qualify = TQualify::All;
  TBlobForm Blob = TBlobForm::Raw;
  // Trailing blanks of fixed-length strings removed; TrimGiven: /TRIM was given (the
  // typed outputs trim unless /TRIM=0 says otherwise).
  bool Trim = false;
  bool TrimGiven = false;
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

  // Print each table's definition instead of converting.
  bool SchemaOnly = false;
  // "/STRICT": the first damage found in the file ends the run as a failure.
  bool Strict = false;
  // "/DEFINITIONS=": another file of the same application whose definitions replace
  // the missing or damaged ones.
  std::string DefinitionsFile;
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
  // When set, the run writes the names its SQLite output would give the tables to this
  // file (JoinNames) and converts nothing: how a folder run into one database learns
  // which names its files share. Only the definitions are read.
  std::string TableNamesPath;
  // When set, a file of names in pairs (JoinNames), a table's name and the name the
  // SQLite output gives it instead; the database is then shared with other runs writing
  // into it at once, whose tables this run waits for.
  std::string TableRenamesPath;
};

// One switch of the command line. Every switch the program knows must be listed in
// SwitchTable(): the parser, the test of the first two arguments and the unknown-switch
// warning with its suggestion all read that table and nothing else.
enum class TSwitchForm : std::uint8_t {
  sfFlag,    // the name alone ("/H")
  sfValue,   // the name, "=" and a value ("/TABLE=ORDERS")
  sfPrefix,  // the name and anything after it, from the third argument on ("/LISTING")
};
struct TSwitch {
  std::string_view Name;  // upper case, with its "/", without "="
  TSwitchForm Form;
  // A closed set of values, upper case, "|" between them ("CRLF|CR|LF|": an empty
  // alternative accepts the empty value); empty when any value is taken.
  std::string_view Values;
  // Sets the options; Value is the text after "=" as typed (empty for the other forms).
  void (*Apply)(TRunOptions& options, const std::string& value);
};
const std::vector<TSwitch>& SwitchTable();

// The switch Argument is, or null. Exact: only the switch as the table names it (any
// letter case): "/LIST" but not "/LISTING" (the test of the first two arguments, which
// on POSIX may be paths beginning with "/").
const TSwitch* FindSwitch(std::string_view argument, bool exact = false);

// Applies one argument to the options when it is a switch; anything else (the two
// paths included) is ignored. A later switch overrides an earlier one. The backslash
// form of a bad number fails with EConvertError "'%s' is not a valid integer value".
void ApplySwitch(TRunOptions& options, const std::string& argument);

// Reads the options from the arguments after the program (at least two): the first
// is Source, the second Target unless it is an exact switch (TargetSwitch then holds
// it and Target stays empty). The first two arguments count as switches when they are
// exact switches, the others by the table's forms, in order. Warnings (unknown
// switches, values a switch does not take, from the third argument on) are added to
// Warnings when given, one line each. A bad value of a switch of text for other tools,
// or /CSV with /FIXED, fails with a message naming it.
TRunOptions ParseRunOptions(const std::vector<std::string>& arguments,
                            std::vector<std::string>* warnings = nullptr);

// Why the run cannot go on for lack of a target ("" when it can): no target was given
// (the second argument is a switch, starts with "-" or is empty) and the run needs one.
std::string MissingTargetMessage(const TRunOptions& options);

// The warning for an argument from the third on that is no switch, or for a value its
// switch does not take; "" when the argument is a switch with an accepted value.
std::string SwitchWarning(std::string_view argument);

// The number of single-character insertions, deletions and replacements that turn A
// into B.
std::size_t EditDistance(std::string_view a, std::string_view b);

// The backslash form of Delimiter and Qualifier: "\<integer>" becomes the one
// character whose code is the low 8 bits of the integer; other values are unchanged.
std::string ApplyBackslashForm(const std::string& value);

// The usage text, every line ended by CR LF, followed by one line naming the owner
// password switches, one naming the switches of text for other tools, those naming the
// output forms, one naming the switches for damaged files, one those of a whole folder
// and one the exit codes.
std::string UsageText();
