// The SQL script form: a script that psql loads into PostgreSQL in one transaction.
// For each table: DROP TABLE IF EXISTS, CREATE TABLE with typed columns, the rows as a
// COPY block in PostgreSQL's text format, one CREATE INDEX per key.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cells/KvCells.h"
#include "cells/KvCodePage.h"
#include "front/RowFormat.h"

// A column of the script's table: one field of the record, or an array field whose
// elements are cells of their own.
struct TSqlColumn {
  std::string Name;                 // unique in the table
  std::uint8_t Type = 0;            // the field's type code (tps type codes)
  std::uint16_t Size = 0;           // bytes of one value (of one element of an array)
  std::uint8_t Decimals = 0;        // DECIMAL only
  bool Array = false;               // a PostgreSQL array of the element type
  bool TrimBlanks = false;          // STRING padding removed
  std::vector<std::int32_t> Cells;  // the row cells it is made of: one, or one per element
};

struct TSqlIndexPart {
  std::size_t Column = 0;  // index into TSqlTable::Columns
  bool Descending = false;
};

struct TSqlIndex {
  std::string Name;
  std::vector<TSqlIndexPart> Parts;
};

struct TSqlTable {
  std::string Name;
  std::vector<TSqlColumn> Columns;
  std::vector<TSqlIndex> Indexes;
};

// "name" with every '"' doubled.
std::string QuotePgName(std::string_view name);
// The column's PostgreSQL type: smallint, integer, bigint, real, double precision,
// numeric(p,d), date, time(2), text, bytea, followed by [] for an array.
std::string PgTypeName(const TSqlColumn& column);
// Whether the field type has a column in the script (groups and unknown types do not).
bool HasSqlColumn(std::uint8_t type);

// What the script begins and ends with.
std::string SqlScriptHead();
std::string SqlScriptTail();
// DROP TABLE IF EXISTS, CREATE TABLE, and the COPY line its rows follow.
void AppendSqlTableStart(std::string& out, const TSqlTable& table);
// The end of the rows, then one CREATE INDEX per index.
void AppendSqlTableEnd(std::string& out, const TSqlTable& table);

// Formats rows of one table as lines of its COPY block. One object per thread.
class TSqlRowWriter {
 public:
  // Texts of the file are read in CodePage.
  TSqlRowWriter(const TSqlTable& table, const TKvCodePage& codePage);
  // Appends the row whose cells by position are Cells (a null entry: no cell) and its
  // line end.
  void AppendRow(std::string& out, std::span<const TKvICellView* const> cells);
  // NUL bytes inside texts written as U+FFFD (PostgreSQL text cannot hold them).
  std::int64_t NulsReplaced() const { return nuls_; }
  // Invalid sequences of UTF-8 texts (code page 65001) written as U+FFFD.
  std::int64_t InvalidUtf8() const { return invalidUtf8_; }

 private:
  // Appends the value of one cell, unescaped; false when it is null.
  bool AppendValue(std::string& out, const TSqlColumn& c, const TKvICellView* cell);
  // Appends a text of the file decoded to UTF-8, its NUL bytes as U+FFFD.
  void AppendText(std::string& out, std::string_view bytes);

  const TSqlTable& table_;
  const TKvCodePage& codePage_;
  std::string value_;    // scratch: a value before it is escaped for COPY
  std::string element_;  // scratch: an array element before it is quoted
  std::int64_t nuls_ = 0;
  std::int64_t invalidUtf8_ = 0;
};

// A table of the script as a row format for the row walk: DROP, CREATE TABLE and the
// COPY line before the rows, each row as a COPY line, the end of the rows and the
// indexes after them. TSqlColumn::Cells name the walk's selected columns by position.
class TSqlRowFormat : public TRowFormat {
 public:
  TSqlRowFormat(const TSqlTable& table, const TKvCodePage& codePage);
  void Begin(const TTableContext& /*table*/) override {}
  void Prologue(std::vector<std::string>& pieces) override;
  bool AppendRow(std::string& out, const TRowView& row, std::uint64_t limit) override;
  void Epilogue(std::vector<std::string>& pieces) override;
  std::unique_ptr<TRowFormat> CloneForThread() const override;
  void MergeCopy(TRowFormat& copy) override;
  void TallyWarnings(TWarningTally& tally) const override;

 private:
  const TSqlTable& table_;
  const TKvCodePage& codePage_;
  TSqlRowWriter rows_;
  std::vector<const TKvICellView*> cells_;
  std::int64_t copiedNuls_ = 0, copiedInvalid_ = 0;  // counted by copies on other threads
};

// The warnings of the script form, as TWarningTally counts them.
inline constexpr const char* kNulsWarning = "NUL bytes inside texts were written as U+FFFD.";
inline constexpr const char* kInvalidUtf8Warning =
    "invalid UTF-8 sequences in texts were written as U+FFFD.";
