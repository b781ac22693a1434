// Sheets whose rows come from a row source: decoded on demand, one row kept.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cells/KvCells.h"

namespace {

// Row r holds r % 3 + 1 columns: an integer, then texts; column 1 is left empty.
class CountingSource : public TKvIRowSource {
 public:
  explicit CountingSource(int* fills) : fills_(fills) {}
  void FillRow(const TKvISourceRow& row, std::vector<TKvICellView>& cells) override {
    ++*fills_;
    text_ = "item " + std::to_string(row.Item);
    const std::size_t n = row.Page % 3 + 1;
    cells.assign(n + 1, TKvICellView{});  // one column more, without cell
    cells[0].Kind = VarKind::Integer;
    cells[0].Int = row.RowNo;
    cells[0].Alignment = taRightJustify;
    cells[0].CellType = ictInteger;
    for (std::size_t c = 2; c < n; ++c) {
      cells[c].Kind = VarKind::String;
      cells[c].Text = text_;
      cells[c].CellType = ictString;
    }
  }

 private:
  int* fills_;
  std::string text_;
};

TKvISourceRows Rows() { return {{10, 0, 100}, {12, 1, 101}, {40, 2, 102}}; }

TEST(GridRowSource, CellsRowsAndTheKeptRow) {
  int fills = 0;
  TSpreadSheetCells c;
  c.RowCount = 3;
  c.ColCount = 3;
  c.SetRowSource(std::make_unique<CountingSource>(&fills), Rows());
  EXPECT_TRUE(c.HasRowSource());
  EXPECT_EQ(c.RowCount, 3);
  EXPECT_EQ(c.ColCount, 3);
  EXPECT_EQ(c.RowEntryCount(), 3);
  EXPECT_EQ(c.RowNo(2), 40);
  EXPECT_EQ(c.RowStatus(1), rsNormal);
  EXPECT_EQ(fills, 0);

  TKvICellView v;
  ASSERT_TRUE(c.PeekCell(0, 1, v));
  EXPECT_EQ(v.Int, 12);
  EXPECT_EQ(v.Alignment, taRightJustify);
  EXPECT_FALSE(c.PeekCell(1, 1, v));  // a column without cell
  EXPECT_FALSE(c.PeekCell(2, 1, v));  // beyond the row's cells
  EXPECT_EQ(c.RowColumnCount(1), 1);
  EXPECT_EQ(fills, 1);  // one decode for the whole row

  EXPECT_EQ(c.RowColumnCount(2), 3);
  EXPECT_EQ(c.GetValue(2, 2).AsString(), "item 102");
  EXPECT_TRUE(c.GetValue(2, 3).IsNull());
  EXPECT_FALSE(c.PeekCell(0, 3, v));  // no such row
  EXPECT_FALSE(c.PeekCell(0, -1, v));
  EXPECT_EQ(fills, 2);

  TSpreadSheetRow row;
  c.CopyRow(2, row);
  EXPECT_EQ(row.RowNo, 40);
  ASSERT_EQ(row.Cols.size(), 3u);
  EXPECT_FALSE(row.Cols[1].has_value());
  EXPECT_EQ(row.Cols[2]->Value.AsString(), "item 102");
  EXPECT_EQ(c.DeleteRowsWithoutCells(), 0);
  EXPECT_GT(c.MemoryUsed(), 0u);

  c.Clear();
  EXPECT_FALSE(c.HasRowSource());
  EXPECT_EQ(c.RowEntryCount(), 0);
}

TEST(GridRowSource, ChangesStoreEveryRowFirst) {
  int fills = 0;
  TSpreadSheetCells c;
  c.RowCount = 3;
  c.SetRowSource(std::make_unique<CountingSource>(&fills), Rows());
  c.SetCell(1, 0, Variant::String("set"), taLeftJustify, 0, ictString);
  EXPECT_FALSE(c.HasRowSource());
  EXPECT_EQ(fills, 3);
  EXPECT_EQ(c.RowEntryCount(), 3);
  EXPECT_EQ(c.RowNo(1), 12);
  EXPECT_EQ(c.GetValue(1, 0).AsString(), "set");
  EXPECT_EQ(c.GetValue(0, 2).AsInt(), 40);
  EXPECT_EQ(c.GetValue(2, 2).AsString(), "item 102");
  EXPECT_EQ(c.RowColumnCount(2), 3);
  EXPECT_EQ(c.RowCount, 3);

  TSpreadSheetCells d;
  d.SetRowSource(std::make_unique<CountingSource>(&fills), Rows());
  d.DeleteRow(0);
  EXPECT_EQ(d.RowEntryCount(), 2);
  EXPECT_EQ(d.RowNo(0), 12);
  EXPECT_EQ(d.GetValue(0, 0).AsInt(), 12);
}

// The row list grows in place past many doublings and keeps every row, bit fields
// included, through a move and a shortening.
TEST(GridRowSource, RowListKeepsEveryRowAsItGrows) {
  TKvISourceRows rows;
  constexpr std::uint32_t kRows = 300000;
  for (std::uint32_t i = 0; i < kRows; ++i)
    rows.push_back({std::int32_t(i) - 5, i / 7, 0x7FFFFFFFu - i, i % 3 == 0});
  TKvISourceRows moved = std::move(rows);
  EXPECT_TRUE(rows.empty());
  ASSERT_EQ(moved.size(), kRows);
  std::uint32_t wrong = 0;
  for (std::uint32_t i = 0; i < kRows; ++i) {
    const TKvISourceRow& r = moved[i];
    wrong += r.RowNo != std::int32_t(i) - 5 || r.Page != i / 7 || r.Item != 0x7FFFFFFFu - i ||
             r.NoPlainCells != (i % 3 == 0);
  }
  EXPECT_EQ(wrong, 0u);
  moved.Truncate(2);
  EXPECT_EQ(moved.size(), 2u);
  EXPECT_EQ(moved.end()[-1].RowNo, -4);
}

}  // namespace
