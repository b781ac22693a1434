// The text export writer: turns one table of the grid into a text file, delimited
// or in fixed-width columns, with optional header and type lines.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cells/KvCells.h"
#include "cells/KvExceptions.h"
#include "cells/KvStream.h"

struct FormatSettings;

// A field of the exported table as the writer needs it.
struct TExportField {
  std::uint8_t Type = 0;  // internal type code 0..17
  std::string Name;
  std::uint16_t Length = 0;  // size in bytes
};

// How lines are laid out; the options of the command line.
struct TExportFormat {
  std::string Delimiter = "\t";
  std::string Qualifier = std::string(1, '\0');
  std::string RecordSeparator = "\r\n";
  bool Fixed = false;
  bool Header = false;
  bool TypeLine = false;
  bool SkipGroups = false;
  std::string Fields;  // empty, or lower-cased names each followed by ";"
  // The most bytes the table's text may take; a damaged file whose rows would take
  // more fails with kTextLimitMessage instead of filling the disk.
  std::uint64_t MaxBytes = UINT64_MAX;
  // Threads that format rows: 0 as many as the machine has (at most two are used),
  // 1 this thread alone.
  unsigned Threads = 0;
};

// A table whose text would pass TExportFormat::MaxBytes fails with kTextLimitMessage
// (cells/KvExceptions.h).

// A field chosen for output: its column in the sheet and its descriptor.
struct TExportColumn {
  std::int32_t Column = 0;
  const TExportField* Field = nullptr;
  std::int32_t Width = 0;  // FieldWidth, used when Fixed
  bool Numeric = false;
};

// Type letter of an internal type code for the type line ('U' for unknown codes).
char TypeLetter(std::uint8_t code);
// Codes 0 (Unknow), 14 (Group) and 17 (String).
bool IsGroupLike(std::uint8_t code);
// Codes 1, 2, 3, 6, 7, 8, 9, 10.
bool IsNumericType(std::uint8_t code);
// The larger of the name's length and the width of the type.
std::int32_t FieldWidth(const TExportField& field);

// T preceded by spaces up to W characters; a longer text is kept whole.
void AppendPadLeft(std::string& out, std::string_view text, std::int32_t width);
// T followed by spaces up to W characters; a longer text is kept whole.
void AppendPadRight(std::string& out, std::string_view text, std::int32_t width);
std::string PadLeft(std::string_view text, std::int32_t width);
std::string PadRight(std::string_view text, std::int32_t width);
// Q + T + Q, every Q inside T doubled.
void AppendQuoteText(std::string& out, std::string_view text, std::string_view qualifier);
std::string QuoteText(std::string_view text, std::string_view qualifier);

// The fields written on every line, in the table's order.
std::vector<TExportColumn> SelectFields(const std::vector<TExportField>& fields,
                                        const TExportFormat& format);

// A table name made safe for a file name: "/", "\", ":" and control characters (on
// Windows also < > " | ? *) become "_"; a name of dots only becomes "_".
std::string SanitizeTableName(std::string_view name);
// The output path of a table: Target itself for an empty or "UNNAMED" name,
// otherwise Target's directory + its stem + "." + the (sanitised) name + its extension.
std::string OutputPathFor(const std::string& target, const std::string& tableName);
// Inserts "." + Tag before the extension of the file-name part of Path.
std::string InsertBeforeExtension(const std::string& path, std::string_view tag);

// Decides, for a row index, whether its line is written (the row filter's seam).
using TRowTest = std::function<bool(std::int32_t row)>;

// Writes header, type line and rows of a sheet's cells to Out. A value that cannot
// be turned into text is written as "#error#". Failures propagate; the caller closes
// the writer so that the lines written so far reach the file. Returns the number of
// bytes written; more than format.MaxBytes fails with kTextLimitMessage.
std::uint64_t WriteTableText(TBufferedFileWriter& out, const TSpreadSheetCells& cells,
                             const std::vector<TExportField>& fields, const TExportFormat& format,
                             const FormatSettings& settings, const TRowTest& rowTest);
