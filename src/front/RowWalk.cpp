// The row walk. How a row travels: the row test (in row order, on this thread), the
// row's cells read once by column (TSpreadSheetCells::RowCells, or a reader of them on
// the second thread), a TRowView of the selected columns, and the output form.
//
// Two threads: a table of more than one block of rows is formatted in blocks of
// kBlockRows. Without a row test each thread formats every other block; with one, this
// thread tests every row in order, exactly once, and the second formats the rows that
// passed, a block behind. Blocks are written in order, so the bytes and the failures are
// those of one thread. Each thread has its own copy of the row format
// (TRowFormat::CloneForThread); the copy's counts are merged back at the end.
#include "front/RowWalk.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <string_view>
#include <system_error>
#include <thread>

#include "cells/KvExceptions.h"
#include "cells/KvText.h"

std::vector<std::int32_t> SelectColumns(const TTableSchema& schema, bool skipGroups,
                                        const std::string& fields) {
  std::vector<std::int32_t> out;
  const std::string list = ";" + fields;
  for (std::size_t j = 0; j < schema.Columns.size(); ++j) {
    const TTableColumn& c = schema.Columns[j];
    if (skipGroups && c.GroupLike) continue;
    if (!fields.empty()) {
      std::string key = ";";
      for (char ch : c.Name) key.push_back(LowerAscii(ch));
      key.push_back(';');
      if (list.find(key) == std::string::npos) continue;
    }
    out.push_back(std::int32_t(j));
  }
  return out;
}

namespace {

// Reads row Row into View: its cells by column through Cells (the sheet, or a reader of
// it for another thread). A row that cannot be read gives a view whose cells fail with
// the reading's failure; running out of memory ends the walk.
template <class Cells>
void ReadRow(Cells& cells, const TSpreadSheetCells& sheet, std::int32_t row,
             std::span<const std::int32_t> columns, TRowView& view) {
  std::span<const TKvICellView> rowCells;
  std::exception_ptr error;
  try {
    rowCells = cells.RowCells(row);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    error = std::current_exception();
  }
  view.Reset(row, std::int64_t(sheet.RowNo(row)) + 1, rowCells, columns, std::move(error));
}

// Turns rows into bytes on one thread: a copy of the row format and a view of the row.
// The two threads' formatters lie side by side: each on cache lines of its own, as the
// view changes with every row.
class alignas(64) TRowFormatter {
 public:
  TRowFormatter(TRowFormat& format, const TSpreadSheetCells& sheet,
                std::span<const std::int32_t> columns)
      : format_(format), plain_(format.PlainRowText()), sheet_(sheet), columns_(columns) {}
  // Appends row Row and its record end to Out; false as soon as Out holds more than
  // Limit bytes. A plain line comes straight from the row's source when it can give it.
  template <class Cells>
  bool AppendRow(std::string& out, Cells& cells, std::int32_t row, std::uint64_t limit) {
    if (plain_) {
      const TKvIPlainRow line = cells.AppendPlainRow(row, columns_, *plain_, out, limit);
      if (line != TKvIPlainRow::NotWritten) return line == TKvIPlainRow::Written;
    }
    ReadRow(cells, sheet_, row, columns_, view_);
    return format_.AppendRow(out, view_, limit);
  }

 private:
  TRowFormat& format_;
  const TKvIPlainRowText* plain_;
  const TSpreadSheetCells& sheet_;
  std::span<const std::int32_t> columns_;
  TRowView view_;
};

// Writes the bytes of one row at once: rows written by one thread alone, and the rows of
// a block that did not fit into its text.
template <class Cells>
void WriteLineNow(TBufferedFileWriter& out, TRowFormatter& rows, Cells& cells, std::int32_t row,
                  std::uint64_t maxBytes, std::string& line, std::uint64_t& written) {
  line.clear();
  if (!rows.AppendRow(line, cells, row, maxBytes - written)) throw Exception(kTextLimitMessage);
  if (written + line.size() > maxBytes) throw Exception(kTextLimitMessage);
  out.Write(line);
  written += line.size();
}

// Writes pieces of a prologue or an epilogue, each whole or not at all.
void WritePieces(TBufferedFileWriter& out, const std::vector<std::string>& pieces,
                 std::uint64_t maxBytes, std::uint64_t& written) {
  for (const std::string& piece : pieces) {
    if (written + piece.size() > maxBytes) throw Exception(kTextLimitMessage);
    out.Write(piece);
    written += piece.size();
  }
}

// Publishes the rows walked so far for a progress line.
void Passed(std::atomic<std::int64_t>* rowsDone, std::int32_t rows) {
  if (rowsDone != nullptr) rowsDone->store(rows, std::memory_order_relaxed);
}

// Rows a thread formats at a time when two share the work.
constexpr std::int32_t kBlockRows = 8192;
// The most text a block holds ahead of writing; the rest of its rows are written one by
// one by the thread that writes (rows of a damaged file can take megabytes each).
constexpr std::size_t kBlockBytes = std::size_t(8) << 20;
// Room past kBlockBytes for the line that passes it, most lines but not all.
constexpr std::size_t kBlockMargin = std::size_t(64) << 10;

// The lines of some rows, formatted ahead of writing.
struct TLineBlock {
  std::string Text;
  std::vector<std::size_t> LineEnds;  // offset after each line's record separator
  std::size_t Done = 0;               // rows whose lines Text holds
  bool LimitHit = false;              // the next line passed the text limit
  std::exception_ptr Error;           // the failure that ended the block early

  // Formats the rows rowAt(0) .. rowAt(count - 1), as many as kBlockBytes allows.
  // Text holds whole lines only; formatting stops at the line that makes it longer
  // than maxBytes, or at a failure.
  template <class Cells, class RowAt>
  void Format(TRowFormatter& rows, Cells& cells, std::size_t count, RowAt rowAt,
              std::uint64_t maxBytes) {
    Text.clear();
    // Room for a whole block from the start: the texts go back and forth between the
    // threads and the file's thread, and texts that grew on one thread and were freed
    // on another would leave the heap of each in pieces.
    Text.reserve(kBlockBytes + kBlockMargin);
    LineEnds.clear();
    Done = 0;
    LimitHit = false;
    Error = nullptr;
    try {
      for (; Done < count && !LimitHit && Text.size() < kBlockBytes; ++Done) {
        rows.AppendRow(Text, cells, rowAt(Done), maxBytes);
        if (Text.size() > maxBytes)
          LimitHit = true;
        else
          LineEnds.push_back(Text.size());
      }
    } catch (...) {
      Error = std::current_exception();
    }
    Text.resize(LineEnds.empty() ? 0 : LineEnds.back());
  }

  // Writes the block's lines while the text stays within maxBytes, then reports what
  // ended the block: the same lines and the same failure as writing row by row. The
  // whole text goes to the file's own thread without a copy, leaving Text empty.
  void WriteTo(TBufferedFileWriter& out, std::uint64_t& written, std::uint64_t maxBytes) {
    std::size_t fit = Text.size();
    bool limit = LimitHit;
    if (written + fit > maxBytes) {
      const auto past = std::upper_bound(LineEnds.begin(), LineEnds.end(), maxBytes - written);
      fit = past == LineEnds.begin() ? 0 : *(past - 1);
      limit = true;
    }
    if (fit == Text.size())
      out.WriteTakingOver(Text);
    else
      out.Write(std::string_view(Text.data(), fit));
    written += fit;
    if (limit) throw Exception(kTextLimitMessage);
    if (Error) std::rethrow_exception(Error);
  }

  // WriteTo, then the lines of the rows that did not fit into the text, formatted and
  // written one by one by this thread through rows and cells.
  template <class Cells, class RowAt>
  void WriteAllTo(TBufferedFileWriter& out, std::uint64_t& written, std::uint64_t maxBytes,
                  TRowFormatter& rows, Cells& cells, std::size_t count, RowAt rowAt,
                  std::string& line) {
    WriteTo(out, written, maxBytes);
    for (std::size_t i = Done; i < count; ++i)
      WriteLineNow(out, rows, cells, rowAt(i), maxBytes, line, written);
  }
};

// The second thread of a table's writing, with what both threads wait on. It is told
// to stop and is joined when the writing ends, a failure included.
class TSecondThread {
 public:
  TSecondThread() = default;
  TSecondThread(const TSecondThread&) = delete;
  TSecondThread& operator=(const TSecondThread&) = delete;
  ~TSecondThread() {
    if (!thread_.joinable()) return;
    Change([&] { stopping_ = true; });
    thread_.join();
  }
  // Starts Work; without a thread to be had, Running() stays false and the caller does
  // the work itself.
  template <class Work>
  void Start(Work work) {
    try {
      thread_ = std::thread(std::move(work));
    } catch (const std::system_error&) {
    }
  }
  bool Running() const { return thread_.joinable(); }
  // Waits until Ready() holds; false when the writing stops first.
  template <class Ready>
  bool WaitFor(Ready ready) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return ready() || stopping_; });
    return !stopping_;
  }
  // Waits until Ready() holds, then makes Update() under the same lock; false when the
  // writing stops first.
  template <class Ready, class Update>
  bool WaitThenChange(Ready ready, Update update) {
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return ready() || stopping_; });
      if (stopping_) return false;
      update();
    }
    changed_.notify_all();
    return true;
  }
  // Makes a change the other thread waits for.
  template <class Update>
  void Change(Update update) {
    {
      std::lock_guard lock(mutex_);
      update();
    }
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  std::thread thread_;
};

// Rows [first, last) of block K.
std::pair<std::int32_t, std::int32_t> BlockRows(std::int32_t k, std::int32_t rowCount) {
  const std::int32_t first = k * kBlockRows;
  return {first, std::min(rowCount, first + kBlockRows)};
}

std::int32_t BlockCount(std::int32_t rowCount) { return (rowCount - 1) / kBlockRows + 1; }

// Writes every row with two threads. Both take the next block of rows not yet taken
// and format it, the second through its own reader of the cells, up to kSlots blocks
// ahead of the writing; this one also writes the blocks in order as they become ready.
// Output and failures are those of writing row by row.
void WriteRowsOnTwoThreads(TBufferedFileWriter& out, const TSpreadSheetCells& cells,
                           TKvICellReader& reader, TRowFormatter& mine, TRowFormatter& theirs,
                           std::uint64_t maxBytes, std::uint64_t& written,
                           std::atomic<std::int64_t>* rowsDone) {
  const std::int32_t rowCount = cells.RowCount;
  const std::int32_t blocks = BlockCount(rowCount);
  constexpr std::int32_t kSlots = 4;
  // On cache lines of their own: a slot's text and line ends grow with every row
  // formatted into it, while the other thread formats into the next slot.
  struct alignas(64) Slot {
    TLineBlock Lines;
    bool Ready = false;
  };
  Slot slots[kSlots];       // block k is formatted into slots[k % kSlots]
  std::int32_t taken = 0;   // blocks taken for formatting (both under the threads' lock)
  std::int32_t writes = 0;  // blocks written
  std::string line;
  auto rowsOf = [&](std::int32_t k) {
    const std::int32_t first = BlockRows(k, rowCount).first;
    return [first](std::size_t i) { return first + std::int32_t(i); };
  };
  auto count = [&](std::int32_t k) {
    const auto [first, last] = BlockRows(k, rowCount);
    return std::size_t(last - first);
  };
  auto canTake = [&] { return taken < blocks && taken < writes + kSlots; };

  TSecondThread second;
  second.Start([&] {
    for (;;) {
      std::int32_t k = -1;
      if (!second.WaitThenChange([&] { return taken >= blocks || canTake(); },
                                 [&] {
                                   if (taken < blocks) k = taken++;
                                 }))
        return;
      if (k < 0) return;
      Slot& slot = slots[k % kSlots];
      slot.Lines.Format(theirs, reader, count(k), rowsOf(k), maxBytes);
      second.Change([&] { slot.Ready = true; });
    }
  });
  while (writes < blocks) {
    Slot& next = slots[writes % kSlots];
    std::int32_t k = -1;  // a block to format here while the next one is not ready
    second.WaitThenChange([&] { return next.Ready || canTake(); },
                          [&] {
                            if (!next.Ready) k = taken++;
                          });
    if (k >= 0) {
      Slot& slot = slots[k % kSlots];
      slot.Lines.Format(mine, cells, count(k), rowsOf(k), maxBytes);
      second.Change([&] { slot.Ready = true; });
      continue;
    }
    next.Lines.WriteAllTo(out, written, maxBytes, mine, cells, count(writes), rowsOf(writes), line);
    second.Change([&] {
      next.Ready = false;
      ++writes;
    });
    Passed(rowsDone, BlockRows(writes - 1, rowCount).second);
  }
}

// Writes the rows that pass the row test with two threads: this one tests every row in
// order (the test's own order of evaluation is kept) and writes the lines; a second
// one formats the rows that passed, a block behind, through its own reader of the
// cells. A failing test ends the rows at that row, after the lines of the rows before
// it, as when writing row by row.
void WriteTestedRowsOnTwoThreads(TBufferedFileWriter& out, const TSpreadSheetCells& cells,
                                 TKvICellReader& reader, TRowFormatter& mine, TRowFormatter& theirs,
                                 const TRowTest& rowTest, std::uint64_t maxBytes,
                                 std::uint64_t& written, std::atomic<std::int64_t>* rowsDone) {
  const std::int32_t rowCount = cells.RowCount;
  const std::int32_t blocks = BlockCount(rowCount);
  std::string line;
  enum class State { Free, Tested, Formatted };
  struct alignas(64) Job {  // as Slot above, on cache lines of its own
    std::vector<std::int32_t> Rows;  // the rows of the block that passed
    std::exception_ptr TestError;    // the failure of the test that ended the block
    State Now = State::Free;
    TLineBlock Lines;
  };
  Job jobs[2];  // block k is jobs[k % 2]
  auto formatJob = [&](Job& j) {
    j.Lines.Format(
        theirs, reader, j.Rows.size(), [&j](std::size_t i) { return j.Rows[i]; }, maxBytes);
  };

  TSecondThread second;
  second.Start([&] {
    for (std::int32_t k = 0;; ++k) {
      Job& j = jobs[k % 2];
      if (!second.WaitFor([&] { return j.Now == State::Tested; })) return;
      formatJob(j);
      second.Change([&] { j.Now = State::Formatted; });
    }
  });
  auto writeJob = [&](std::int32_t k) {
    Job& j = jobs[k % 2];
    if (second.Running())
      second.WaitFor([&] { return j.Now == State::Formatted; });
    else
      formatJob(j);
    j.Lines.WriteAllTo(
        out, written, maxBytes, mine, cells, j.Rows.size(),
        [&j](std::size_t i) { return j.Rows[i]; }, line);
    if (j.TestError) std::rethrow_exception(j.TestError);
    second.Change([&] { j.Now = State::Free; });
  };

  std::int32_t end = blocks;
  for (std::int32_t k = 0; k < blocks; ++k) {
    if (k >= 2) writeJob(k - 2);  // frees the job of block k
    Job& j = jobs[k % 2];
    j.Rows.clear();
    j.TestError = nullptr;
    const auto [first, last] = BlockRows(k, rowCount);
    try {
      for (std::int32_t row = first; row < last; ++row)
        if (rowTest(row)) j.Rows.push_back(row);
    } catch (...) {
      j.TestError = std::current_exception();
    }
    second.Change([&] { j.Now = State::Tested; });
    Passed(rowsDone, last);
    if (j.TestError) {
      end = k + 1;
      break;
    }
  }
  for (std::int32_t k = std::max(0, end - 2); k < end; ++k) writeJob(k);
}

}  // namespace

std::uint64_t WriteTableRows(TBufferedFileWriter& out, const TSpreadSheetCells& cells,
                             const TTableContext& table, TRowFormat& format,
                             const TRowTest& rowTest, const TWalkLimits& limits) {
  const std::uint64_t maxBytes = limits.MaxBytes;
  std::uint64_t written = 0;
  format.Begin(table);
  std::vector<std::string> pieces;
  format.Prologue(pieces);
  WritePieces(out, pieces, maxBytes, written);

  TRowFormatter mine(format, cells, table.Columns);
  // With enough rows, a second thread formats half of the rows, or with a row test the
  // rows that passed it.
  const unsigned threads =
      limits.Threads != 0 ? limits.Threads : std::max(1u, std::thread::hardware_concurrency());
  const std::unique_ptr<TKvICellReader> reader =
      threads > 1 && cells.RowCount > kBlockRows ? cells.NewCellReader() : nullptr;
  if (reader) {
    const std::unique_ptr<TRowFormat> copy = format.CloneForThread();
    TRowFormatter theirs(*copy, cells, table.Columns);
    if (rowTest)
      WriteTestedRowsOnTwoThreads(out, cells, *reader, mine, theirs, rowTest, maxBytes, written,
                                  limits.RowsDone);
    else
      WriteRowsOnTwoThreads(out, cells, *reader, mine, theirs, maxBytes, written, limits.RowsDone);
    format.MergeCopy(*copy);
  } else {
    std::string line;
    for (std::int32_t row = 0; row < cells.RowCount; ++row) {
      if (!rowTest || rowTest(row)) WriteLineNow(out, mine, cells, row, maxBytes, line, written);
      if ((row & 1023) == 1023) Passed(limits.RowsDone, row + 1);
    }
  }
  Passed(limits.RowsDone, cells.RowCount);

  pieces.clear();
  format.Epilogue(pieces);
  WritePieces(out, pieces, maxBytes, written);
  return written;
}

void FeedTableRows(TRowSink& sink, const TSpreadSheetCells& cells, const TTableContext& table,
                   const TRowTest& rowTest, std::atomic<std::int64_t>* rowsDone) {
  sink.BeginTable(table);
  TRowView view;
  for (std::int32_t row = 0; row < cells.RowCount; ++row) {
    if ((row & 1023) == 1023) Passed(rowsDone, row);
    if (rowTest && !rowTest(row)) continue;
    ReadRow(cells, cells, row, table.Columns, view);
    sink.Row(view);
  }
  sink.EndTable();
  Passed(rowsDone, cells.RowCount);
}
