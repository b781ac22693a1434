// Rows decoded on demand give exactly the sheets that reporting every cell gives.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "TpsMixedFile.h"
#include "TpsTestUtil.h"
#include "cells/KvStream.h"
#include "tps/KvTPS.h"
#include "tpswriter/TpsDemo.h"
#include "tpswriter/TpsWriter.h"

namespace {

using namespace tpsw;
using tpstest::Definitions;
using tpstest::MixedFile;

struct Loaded {
  std::unique_ptr<TMemoryStream> stream;  // rows on demand read from it
  std::unique_ptr<TClarionTPS> reader;
};

Loaded LoadWith(const std::vector<std::uint8_t>& bytes, bool lazy, std::int32_t table = 0,
                bool split = false, const std::string& owner = "", bool listOnly = false) {
  Loaded l;
  l.stream = std::make_unique<TMemoryStream>(bytes);
  l.reader = std::make_unique<TClarionTPS>();
  l.reader->ResetGrid();
  l.reader->FileName = "dir/LAZY.TPS";
  l.reader->KeepOpen = true;
  l.reader->LazyRows = lazy;
  l.reader->TableNumber = table;
  l.reader->SplitArrayFields = split;
  if (!owner.empty()) l.reader->Owner = owner;
  l.reader->ListOnly = listOnly;
  l.reader->LoadFromStream(*l.stream);
  return l;
}

// A packed decimal decoded on demand also carries its stored bytes, and a date its
// calendar parts, which a stored cell does not keep: only the texts of text kinds and
// the Int of kinds other than Date are compared.
std::string Describe(const TKvICellView& v) {
  return std::to_string(int(v.Kind)) + "/" + std::to_string(int(v.Alignment)) + "/" +
         std::to_string(int(v.CellType)) + "/" + std::to_string(v.FormatIndex) + "/" +
         std::to_string(v.Kind == VarKind::Date ? 0 : v.Int) + "/" + std::to_string(v.Real) + "/" +
         std::string(v.IsPackedDecimal() ? std::string_view() : v.Text);
}

// Every property of every sheet, row and cell, as text. Rows are read backwards first
// and then forwards, so that decoding out of order is covered too.
std::string Dump(TClarionTPS& r) {
  std::string out = "dates " + std::to_string(r.InvalidDateTimeCount()) + "\n";
  for (std::int32_t s = 0; s < r.Sheets().Count(); ++s) {
    const TSpreadSheetCells& c = r.Sheets()[s].Cells;
    out += "sheet " + r.Sheets()[s].Caption + " rows " + std::to_string(c.RowCount) + " cols " +
           std::to_string(c.ColCount) + " entries " + std::to_string(c.RowEntryCount()) + "\n";
    for (std::int32_t row = std::int32_t(c.RowEntryCount()); row-- > 0;)
      (void)c.RowColumnCount(row);
    for (std::int32_t row = 0; row < c.RowEntryCount(); ++row) {
      out += " row " + std::to_string(row) + " no " + std::to_string(c.RowNo(row)) + " n " +
             std::to_string(c.RowColumnCount(row)) + " st " + std::to_string(c.RowStatus(row)) +
             ":";
      for (std::int32_t col = 0; col <= c.RowColumnCount(row); ++col) {
        TKvICellView v;
        out += c.PeekCell(col, row, v) ? " [" + Describe(v) + "]" : " -";
      }
      out += "\n";
    }
  }
  return out;
}

TEST(TpsLazyRows, SheetsEqualThoseOfEveryCellReported) {
  for (std::uint64_t seed : {1u, 2u, 3u, 4u}) {
    SCOPED_TRACE(seed);
    const auto bytes = MixedFile(seed, "", Definitions::First, seed == 4);
    for (bool split : {false, true})
      for (std::int32_t table : {0, 2, 3}) {
        SCOPED_TRACE(std::to_string(split) + " table " + std::to_string(table));
        Loaded eager = LoadWith(bytes, false, table, split);
        Loaded lazy = LoadWith(bytes, true, table, split);
        const std::string want = Dump(*eager.reader);
        EXPECT_EQ(Dump(*lazy.reader), want);
        // Tables without repeated record numbers are decoded on demand; the table with
        // one keeps its cells.
        for (std::int32_t s = 0; s < lazy.reader->Sheets().Count(); ++s) {
          const auto& t = tpstest::Sheet(*lazy.reader, s);
          if (t.Cells.RowEntryCount() == 0) continue;
          EXPECT_EQ(t.Cells.HasRowSource(), t.TableNumber != 3) << t.Caption;
        }
        if (table == 0) {
          EXPECT_GT(eager.reader->InvalidDateTimeCount(), 0);
        }
        // Rows asked for once more after other tables were read give the same cells.
        EXPECT_EQ(Dump(*lazy.reader), want);
      }
  }
}

// Which records give no cell, the widest row and the impossible dates are found while
// the pages are cut when a table's definition comes first; otherwise by reading the
// records again. Both give what a load that reports every cell gives.
TEST(TpsLazyRows, DefinitionsBeforeOrAfterTheData) {
  for (Definitions d :
       {Definitions::First, Definitions::Last, Definitions::Pieces, Definitions::Replaced}) {
    SCOPED_TRACE(int(d));
    const auto bytes = MixedFile(4, "", d);
    for (bool split : {false, true})
      for (std::int32_t table : {0, 1, 2}) {
        SCOPED_TRACE(std::to_string(split) + " table " + std::to_string(table));
        Loaded eager = LoadWith(bytes, false, table, split);
        Loaded lazy = LoadWith(bytes, true, table, split);
        EXPECT_EQ(Dump(*lazy.reader), Dump(*eager.reader));
        if (table != 2) {
          EXPECT_GT(lazy.reader->InvalidDateTimeCount(), 0);
        }
      }
  }
}

// A load that only names the tables finds the tables and the impossible dates of a
// full load, and keeps no rows, also when a table's definition is replaced after its
// data (the records are then looked at once more with the final fields).
TEST(TpsLazyRows, ListOnlyFindsTheTablesAndDatesOfAFullLoad) {
  for (Definitions d :
       {Definitions::First, Definitions::Last, Definitions::Pieces, Definitions::Replaced})
    for (bool split : {false, true}) {
      SCOPED_TRACE(std::to_string(int(d)) + " split " + std::to_string(split));
      const auto bytes = MixedFile(5, "", d);
      Loaded full = LoadWith(bytes, true, 0, split);
      Loaded list = LoadWith(bytes, true, 0, split, "", true);
      auto tables = [](TClarionTPS& r) {
        std::string out = "dates " + std::to_string(r.InvalidDateTimeCount());
        for (std::int32_t s = 0; s < r.Sheets().Count(); ++s) {
          const auto& t = tpstest::Sheet(r, s);
          out += "; " + std::to_string(t.TableNumber) + " " + t.Caption + " " +
                 std::to_string(t.FieldCount);
        }
        return out;
      };
      EXPECT_EQ(tables(*list.reader), tables(*full.reader));
      EXPECT_GT(full.reader->InvalidDateTimeCount(), 0);
      for (std::int32_t s = 0; s < list.reader->Sheets().Count(); ++s)
        EXPECT_EQ(list.reader->Sheets()[s].Cells.RowCount, 0);
    }
}

TEST(TpsLazyRows, EncryptedFileAndMemoTexts) {
  const auto bytes = MixedFile(9, "s3cret");
  Loaded eager = LoadWith(bytes, false, 0, false, "s3cret");
  Loaded lazy = LoadWith(bytes, true, 0, false, "s3cret");
  ASSERT_GE(lazy.reader->Sheets().Count(), 3);
  EXPECT_EQ(Dump(*lazy.reader), Dump(*eager.reader));
  // The memo text through the selected table.
  lazy.reader->TableNumber = 1;
  eager.reader->TableNumber = 1;
  const auto& t = tpstest::Sheet(*lazy.reader, lazy.reader->TableIndexOf(1));
  int memos = 0;
  for (std::int32_t row = 0; row < t.Cells.RowCount; ++row) {
    const std::string text = lazy.reader->GetMemoText(14, row);
    EXPECT_EQ(text, eager.reader->GetMemoText(14, row));
    memos += !text.empty();
  }
  EXPECT_GT(memos, 10);
}

TEST(TpsLazyRows, ChangingALazySheetStoresItsRowsFirst) {
  const auto bytes = MixedFile(4);
  Loaded eager = LoadWith(bytes, false);
  Loaded lazy = LoadWith(bytes, true);
  auto& lt = tpstest::Sheet(*lazy.reader, lazy.reader->TableIndexOf(1));
  auto& et = tpstest::Sheet(*eager.reader, eager.reader->TableIndexOf(1));
  ASSERT_TRUE(lt.Cells.HasRowSource());
  lt.Cells.SetCell(1, 3, Variant::String("changed"), taLeftJustify, 0, ictString);
  et.Cells.SetCell(1, 3, Variant::String("changed"), taLeftJustify, 0, ictString);
  EXPECT_FALSE(lt.Cells.HasRowSource());
  EXPECT_EQ(Dump(*lazy.reader), Dump(*eager.reader));
}

}  // namespace

namespace {

// A mapped file gives back the pages it has read; rows decoded later read them again
// from the file and are the same as from a copy in memory.
// An encrypted file is read from a decrypted private copy, which is never given back.
TEST(TpsLazyRows, MappedFileReadAgainAfterItsPagesWereGivenBack) {
  for (const std::string owner : {"", "pw"}) {
    SCOPED_TRACE(owner);
    TempDir dir;
    const std::string path = dir.File("big.tps");
    const tpsw::BenchResult made = tpsw::WriteBench(path, 12, owner);
    ASSERT_GT(made.rows, 60000);
    TFileStream file(path);
    std::vector<std::uint8_t> bytes(file.View().begin(), file.View().end());
    TClarionTPS mapped;
    mapped.ResetGrid();
    mapped.LazyRows = true;
    if (!owner.empty()) mapped.Owner = owner;
    mapped.LoadFromStream(file);
    Loaded copy = LoadWith(bytes, true, 0, false, owner);
    ASSERT_EQ(mapped.Sheets().Count(), copy.reader->Sheets().Count());
    const TSpreadSheetCells& a = mapped.Sheets()[0].Cells;
    const TSpreadSheetCells& b = copy.reader->Sheets()[0].Cells;
    ASSERT_TRUE(a.HasRowSource());
    ASSERT_EQ(a.RowCount, made.rows);
    ASSERT_EQ(a.RowCount, b.RowCount);
    EXPECT_EQ(a.ColCount, b.ColCount);
    // Rows from front to back twice (every page read again), then from back to front.
    std::vector<std::int32_t> order;
    for (int pass = 0; pass < 2; ++pass)
      for (std::int32_t row = 0; row < a.RowCount; row += 997) order.push_back(row);
    for (std::int32_t row = a.RowCount - 1; row >= 0; row -= 4999) order.push_back(row);
    for (std::int32_t row : order)
      for (std::int32_t col = 0; col < a.ColCount; ++col) {
        TKvICellView x, y;
        ASSERT_EQ(a.PeekCell(col, row, x), b.PeekCell(col, row, y)) << row << " " << col;
        if (x.Kind == VarKind::Empty) continue;
        EXPECT_EQ(Describe(x), Describe(y)) << row << " " << col;
      }
    EXPECT_EQ(a.GetValue(0, a.RowCount - 1).AsInt(), made.rows);
  }
}

#if defined(__linux__)
// The kilobytes of the mapping that holds Address that are in this process's memory.
std::uint64_t ResidentKb(const void* address) {
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  std::ifstream smaps("/proc/self/smaps");
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    unsigned long lo = 0, hi = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx ", &lo, &hi) == 2)
      inside = lo <= at && at < hi;
    else if (inside && line.rfind("Rss:", 0) == 0)
      return std::stoull(line.substr(4));
  }
  return 0;
}

// The source of a second thread gives back the mapped pages it has read too: while the
// first thread only writes, the second one reads the rest of the table alone.
TEST(TpsLazyRows, SecondThreadGivesBackTheMappedPagesItRead) {
  TempDir dir;
  const std::string path = dir.File("big.tps");
  const tpsw::BenchResult made = tpsw::WriteBench(path, 64);
  TFileStream file(path);
  TClarionTPS mapped;
  mapped.ResetGrid();
  mapped.LazyRows = true;
  mapped.LoadFromStream(file);
  ASSERT_TRUE(file.ViewIsFileMapping());
  const TSpreadSheetCells& cells = mapped.Sheets()[0].Cells;
  ASSERT_EQ(cells.RowCount, made.rows);
  const std::unique_ptr<TKvICellReader> reader = cells.NewCellReader();
  const std::uint64_t loaded = ResidentKb(file.View().data());  // what the load left
  std::uint64_t most = 0;
  for (std::int32_t row = 0; row < cells.RowCount; ++row) {
    ASSERT_FALSE(reader->RowCells(row).empty());
    if (row % 20000 == 0) most = std::max(most, ResidentKb(file.View().data()));
  }
  TKvICellView last;
  ASSERT_TRUE(reader->PeekCell(0, cells.RowCount - 1, last));
  EXPECT_EQ(last.Int, made.rows);
  EXPECT_LT(most, loaded + (16u << 10)) << "of a file of " << (file.Size() >> 10) << " KB";
}
#endif

}  // namespace
