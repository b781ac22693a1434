// The row walk: takes the rows of one table through the row test (the row filter's
// seam) and hands the selected columns of each passing row to an output form. A table of
// more than one block of rows is formatted on two threads (see RowWalk.cpp); the bytes
// and failures are those of one thread. A damaged file whose rows would take more text
// than TWalkLimits::MaxBytes fails with kTextLimitMessage instead of filling the disk.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "cells/KvCells.h"
#include "cells/KvFileWriter.h"
#include "cells/KvTableSchema.h"
#include "front/RowFormat.h"

// Decides, for a row index, whether the row is written. Called on the walking thread, in
// row order, once per row.
using TRowTest = std::function<bool(std::int32_t row)>;

struct TWalkLimits {
  // The most bytes the table's text may take (prologue and epilogue included).
  std::uint64_t MaxBytes = UINT64_MAX;
  // Threads that format rows: 0 as many as the machine has (at most two are used), 1 this
  // thread alone.
  unsigned Threads = 0;
  // When set, the rows walked so far, updated as the walk goes on (for a progress line).
  std::atomic<std::int64_t>* RowsDone = nullptr;
};

// The columns written on every row, in the table's order: all of them, less the group-like
// ones when skipGroups, and only those named in Fields when it is not empty (lower-cased
// names each followed by ";", matched whole and in any letter case).
std::vector<std::int32_t> SelectColumns(const TTableSchema& schema, bool skipGroups,
                                        const std::string& fields);

// Writes a table through Format into Out: Format.Begin(table), the prologue, the rows
// that pass rowTest (every row without one), the epilogue. Returns the bytes written.
// Failures propagate after the bytes before them are written; the caller closes Out.
std::uint64_t WriteTableRows(TBufferedFileWriter& out, const TSpreadSheetCells& cells,
                             const TTableContext& table, TRowFormat& format,
                             const TRowTest& rowTest, const TWalkLimits& limits);

// Feeds a table to Sink on this thread: BeginTable, the rows that pass rowTest, EndTable.
// A failure propagates without EndTable. RowsDone as in TWalkLimits.
void FeedTableRows(TRowSink& sink, const TSpreadSheetCells& cells, const TTableContext& table,
                   const TRowTest& rowTest, std::atomic<std::int64_t>* rowsDone = nullptr);
