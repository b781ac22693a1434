// The two shapes of an output form, driven by the row walk (RowWalk.h):
//  - a row format turns rows into bytes: a prologue (header lines, a CREATE TABLE...),
//    one piece per row ending in its record end, an epilogue; the walk puts the bytes
//    into the table's file, in order, whatever thread formatted them;
//  - a row sink takes rows that are no byte stream (a database): begin a table, one row
//    at a time, end the table; the walk feeds it on one thread.
// An output form knows nothing of threads, files, filters or limits; the walk knows
// nothing of any output form. How a new form is added: see OutputForms.h.
#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cells/KvCells.h"
#include "cells/KvTableSchema.h"

struct FormatSettings;

// One row as an output form reads it: its place and the cells of the selected columns.
class TRowView {
 public:
  std::int32_t Index = 0;         // the row's index in the table (0-based)
  std::int64_t RecordNumber = 0;  // the row's record number in the source; 0 when unknown

  // The number of selected columns.
  std::size_t Size() const { return columns_.size(); }
  // The cell of selected column K (0 <= K < Size()), or null when the row has none
  // there. Throws the row's read failure when the row could not be read: an output form
  // then writes that cell as it writes any value it cannot read.
  const TKvICellView* Cell(std::size_t k) const {
    if (error_) std::rethrow_exception(error_);
    return CellInRow(cells_, columns_[k]);
  }
  // Whether the row could not be read (Cell then throws its failure).
  bool Failed() const { return error_ != nullptr; }
  // The row's cells by column and the selected columns, for reading Cell(K) of a row
  // that did not fail without the check: CellInRow(CellsByColumn(), Columns()[K]).
  std::span<const TKvICellView> CellsByColumn() const { return cells_; }
  std::span<const std::int32_t> Columns() const { return columns_; }
  // Selected column K's column in the table (an index into TTableSchema::Columns).
  std::int32_t Column(std::size_t k) const { return columns_[k]; }

  // Set by the walk: the row's cells by column, the selected columns, the failure.
  void Reset(std::int32_t index, std::int64_t recordNumber, std::span<const TKvICellView> cells,
             std::span<const std::int32_t> columns, std::exception_ptr error) {
    Index = index;
    RecordNumber = recordNumber;
    cells_ = cells;
    columns_ = columns;
    error_ = std::move(error);
  }

 private:
  std::span<const TKvICellView> cells_;
  std::span<const std::int32_t> columns_;
  std::exception_ptr error_;
};

// What an output form is told about the table it writes; valid until the table ends.
struct TTableContext {
  const TTableSchema* Schema = nullptr;
  // The selected columns (indexes into Schema->Columns), in the table's order.
  std::span<const std::int32_t> Columns;
  // The regional settings of the run (an output form may use FormatSettings::Iso()
  // instead where its text must not depend on the machine).
  const FormatSettings* Settings = nullptr;
  // The path of the table's output file; a form that writes files beside it (extracted
  // BLOBs, say) names them from it.
  std::string Path;
  // The most bytes of values a sink may take for the table: a damaged file may ask for
  // more than the disk holds (a row format is held to its limit by the walk).
  std::uint64_t MaxBytes = UINT64_MAX;
};

// Warnings counted while tables are written, summed over threads and tables, and printed
// once at the end of the run, one line per text: "Warning: <count> <text>".
struct TWarningTally {
  std::map<std::string, std::int64_t> Counts;  // by text, for example "NUL bytes were ..."
  void Add(const std::string& text, std::int64_t count) {
    if (count != 0) Counts[text] += count;
  }
};

// Turns rows into bytes. One object per run and output form; Begin starts each table.
// Rows of a large table are formatted on two threads, each by its own copy
// (CloneForThread); every copy gets the rows of whole blocks, so a copy's state must not
// depend on the rows it was given before.
class TRowFormat {
 public:
  virtual ~TRowFormat() = default;
  // Starts a table; called on the writing thread before Prologue and before any copy is
  // made. May fail the run with an exception.
  virtual void Begin(const TTableContext& table) = 0;
  // Adds what comes before the first row (header lines, for example) as pieces, each
  // written whole or not at all: a text limit reached in a piece leaves the pieces
  // before it in the file.
  virtual void Prologue(std::vector<std::string>& pieces) = 0;
  // Appends the row and its record end. Returns false as soon as Out holds more than
  // Limit bytes (it may stop in the middle of the row then): a damaged row may ask for
  // more text than memory holds. A failure (an exception) ends the table at this row;
  // the rows before it are written.
  virtual bool AppendRow(std::string& out, const TRowView& row, std::uint64_t limit) = 0;
  // Adds what comes after the last row, in pieces as Prologue.
  virtual void Epilogue(std::vector<std::string>& pieces) = 0;
  // A copy for another thread formatting rows of the same table alongside this one:
  // the same table and layout, with scratch buffers, caches and counts of its own.
  virtual std::unique_ptr<TRowFormat> CloneForThread() const = 0;
  // Takes the counts of a copy made by CloneForThread, once its thread has ended.
  virtual void MergeCopy(TRowFormat& /*copy*/) {}
  // Adds the warning counts of the table since Begin to Tally (after the table ends, the
  // copies merged).
  virtual void TallyWarnings(TWarningTally& /*tally*/) const {}
  // For a format whose lines are plain delimited text: their layout, so that a row
  // source that can write such a line straight from its record does so, in place of
  // AppendRow (TKvIRowSource::AppendPlainRow); null otherwise. Asked after Begin, of
  // each copy; valid while the table is written.
  virtual const TKvIPlainRowText* PlainRowText() { return nullptr; }
};

// Takes rows that are no byte stream, one thread, one row at a time.
class TRowSink {
 public:
  virtual ~TRowSink() = default;
  virtual void BeginTable(const TTableContext& table) = 0;
  // One row; a failure ends the run at this row (EndTable is not called then).
  virtual void Row(const TRowView& row) = 0;
  virtual void EndTable() = 0;
  // Adds the warning counts of the table since BeginTable to Tally.
  virtual void TallyWarnings(TWarningTally& /*tally*/) const {}
};
