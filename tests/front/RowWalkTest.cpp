// The row walk's seams: a row format gets a copy per thread whose counts come back, the
// row's index and record number, prologue and epilogue pieces under the text limit, and
// a sink fed the same rows on one thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "front/RowWalk.h"

namespace {

// Writes "<index>:<record number>:<text of the first selected cell>" per row and counts
// the rows and the threads that formatted them.
class TProbeFormat : public TRowFormat {
 public:
  void Begin(const TTableContext& table) override {
    columns = table.Columns.size();
    rows = 0;
  }
  void Prologue(std::vector<std::string>& pieces) override { pieces = {"P1\n", "P2\n"}; }
  bool AppendRow(std::string& out, const TRowView& row, std::uint64_t limit) override {
    EXPECT_EQ(row.Size(), columns);
    const TKvICellView* cell = row.Cell(0);
    out += std::to_string(row.Index) + ":" + std::to_string(row.RecordNumber) + ":" +
           (cell ? std::string(cell->Text) : "-") + "\n";
    ++rows;
    threads.insert(std::this_thread::get_id());
    return out.size() <= limit;
  }
  void Epilogue(std::vector<std::string>& pieces) override { pieces.push_back("E\n"); }
  std::unique_ptr<TRowFormat> CloneForThread() const override {
    auto copy = std::make_unique<TProbeFormat>();
    copy->columns = columns;
    return copy;
  }
  void MergeCopy(TRowFormat& copy) override {
    auto& probe = dynamic_cast<TProbeFormat&>(copy);
    rows += probe.rows;
    threads.insert(probe.threads.begin(), probe.threads.end());
  }
  void TallyWarnings(TWarningTally& tally) const override { tally.Add("rows probed", rows); }

  std::size_t columns = 0;
  std::int64_t rows = 0;
  std::set<std::thread::id> threads;
};

// Takes the same line as the probe format, row by row.
class TProbeSink : public TRowSink {
 public:
  void BeginTable(const TTableContext&) override { text += "P1\nP2\n"; }
  void Row(const TRowView& row) override {
    TProbeFormat line;
    line.columns = row.Size();
    line.AppendRow(text, row, UINT64_MAX);
  }
  void EndTable() override { text += "E\n"; }
  std::string text;
};

}  // namespace

TEST(RowWalk, FormatCopiesPerThreadRecordNumbersPiecesAndSink) {
  // Six blocks and more (the blocks formatted ahead are fewer); rows keep their record
  // numbers when the rows between them, which have no cells, are dropped: row i is
  // record 2i + 1.
  const std::int32_t rows = 6 * 8192 + 11;
  TSpreadSheetCells cells;
  for (std::int32_t i = 0; i < rows; ++i)
    cells.SetCell(0, 2 * i, Variant::String("v" + std::to_string(i % 7)), taLeftJustify, 0,
                  ictString);
  cells.DeleteRowsWithoutCells();
  ASSERT_EQ(cells.RowCount, rows);
  TTableSchema schema;
  schema.Columns = {MakeTableColumn("V", tpsChar, 2)};
  const std::vector<std::int32_t> columns = {0};
  TTableContext table;
  table.Schema = &schema;
  table.Columns = columns;
  const FormatSettings settings = FormatSettings::Iso();
  table.Settings = &settings;

  const TRowTest test = [](std::int32_t row) { return row % 5 != 2; };
  std::string want[2] = {"P1\nP2\n", "P1\nP2\n"};  // without and with the row test
  for (std::int32_t i = 0; i < rows; ++i) {
    const std::string line =
        std::to_string(i) + ":" + std::to_string(2 * i + 1) + ":v" + std::to_string(i % 7) + "\n";
    want[0] += line;
    if (test(i)) want[1] += line;
  }
  want[0] += "E\n";
  want[1] += "E\n";

  for (const bool tested : {false, true}) {
    for (const unsigned threads : {1u, 2u}) {
      SCOPED_TRACE(std::to_string(threads) + (tested ? " threads, row test" : " threads"));
      TempDir dir;
      TProbeFormat format;
      TWalkLimits limits;
      limits.Threads = threads;
      {
        TBufferedFileWriter out(dir.File("out.txt"));
        WriteTableRows(out, cells, table, format, tested ? test : TRowTest(), limits);
        out.Close();
      }
      EXPECT_TRUE(ReadFileText(dir.File("out.txt")) == want[tested]);
      // Every copy's rows are counted once. The copy formats rows on its own thread:
      // every row that passed a row test; without one, the blocks it takes before this
      // thread does, none when it is not given the processor in time.
      const std::int64_t written = tested ? std::count(want[1].begin(), want[1].end(), '\n') - 3
                                          : rows;  // less the prologue's and epilogue's lines
      EXPECT_EQ(format.rows, written);
      TWarningTally tally;
      format.TallyWarnings(tally);
      EXPECT_EQ(tally.Counts["rows probed"], written);
      const bool elsewhere =
          format.threads.size() > format.threads.count(std::this_thread::get_id());
      if (threads == 1 || tested) {
        EXPECT_EQ(elsewhere, threads == 2);
      }
    }
  }

  // Writes the rows under a text limit: the failure's message and the file's text.
  const auto writeUpTo = [&](std::uint64_t maxBytes, unsigned threads) {
    TempDir dir;
    TProbeFormat format;
    TWalkLimits limits;
    limits.Threads = threads;
    limits.MaxBytes = maxBytes;
    std::string failure;
    {
      TBufferedFileWriter out(dir.File("out.txt"));
      try {
        WriteTableRows(out, cells, table, format, {}, limits);
      } catch (const Exception& e) {
        failure = e.Message();
      }
      out.Close();
    }
    return std::pair(failure, ReadFileText(dir.File("out.txt")));
  };
  // A limit reached in the middle of the rows ends them at the same line, however many
  // threads format them.
  const std::size_t half = want[0].size() / 2;
  for (const unsigned threads : {1u, 2u}) {
    const auto [failure, text] = writeUpTo(half, threads);
    EXPECT_EQ(failure, kTextLimitMessage);
    EXPECT_TRUE(text == want[0].substr(0, want[0].rfind('\n', half - 1) + 1)) << threads;
  }

  // A sink gets the same rows on this thread.
  TProbeSink sink;
  FeedTableRows(sink, cells, table, test);
  EXPECT_TRUE(sink.text == want[1]);

  // Pieces of the prologue are written whole or not at all.
  EXPECT_EQ(writeUpTo(5, 0), std::pair(std::string(kTextLimitMessage), std::string("P1\n")));
}
