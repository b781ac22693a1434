#include <gtest/gtest.h>

#include "cells/KvCells.h"
#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"

namespace {

void Put(TSpreadSheetCells& c, int col, int row, const Variant& v) {
  c.SetCell(col, row, v, taRightJustify, 0, ictInteger);
}

TEST(Grid, NullAndEmptyStoreNothing) {
  TSpreadSheetCells c;
  c.SetCell(3, 5, Variant::Null(), taLeftJustify, 0, ictEmpty);
  c.SetCell(3, 5, Variant(), taLeftJustify, 0, ictEmpty);
  c.SetCell(-1, 0, Variant::Integer(1), taLeftJustify, 0, ictEmpty);
  EXPECT_EQ(c.RowCount, 0);
  EXPECT_EQ(c.ColCount, 0);
  EXPECT_EQ(c.RowEntryCount(), 0);
  // an empty text is a value
  c.SetCell(0, 0, Variant::String(""), taLeftJustify, 0, ictString);
  EXPECT_EQ(c.RowCount, 1);
  EXPECT_TRUE(c.GetCell(0, 0).has_value());
}

TEST(Grid, CellsKeepAllFourProperties) {
  TSpreadSheetCells c;
  c.SetCell(2, 0, Variant::String("x"), taCenter, 70000, ictMemo);
  EXPECT_EQ(c.RowColumnCount(0), 3);
  EXPECT_FALSE(c.GetCell(0, 0).has_value());
  EXPECT_FALSE(c.GetCell(1, 0).has_value());
  EXPECT_EQ(c.ColCount, 3);
  auto cell = c.GetCell(2, 0);
  ASSERT_TRUE(cell.has_value());
  EXPECT_EQ(cell->Value.AsString(), "x");
  EXPECT_EQ(cell->Alignment, taCenter);
  EXPECT_EQ(cell->FormatIndex, 70000);
  EXPECT_EQ(cell->CellType, ictMemo);
  EXPECT_TRUE(c.GetValue(9, 9).IsNull());
  EXPECT_TRUE(c.GetValue(5, 0).IsNull());
}

TEST(Grid, OverwritingAndRevisitingRowsKeepsEveryValue) {
  TSpreadSheetCells c;
  // rows filled out of order and revisited after other rows
  for (int row : {4, 0, 2})
    for (int col = 0; col < 3; ++col)
      Put(c, col, row, Variant::String("r" + std::to_string(row) + "c" + std::to_string(col)));
  Put(c, 5, 0, Variant::Double(2.5));
  Put(c, 1, 4, Variant::Integer(-9));
  EXPECT_EQ(c.GetValue(0, 0).AsString(), "r0c0");
  EXPECT_EQ(c.GetValue(2, 0).AsString(), "r0c2");
  EXPECT_EQ(c.GetValue(5, 0).AsDouble(), 2.5);
  EXPECT_EQ(c.GetValue(1, 4).AsInt(), -9);
  EXPECT_EQ(c.GetValue(2, 4).AsString(), "r4c2");
  EXPECT_EQ(c.RowCount, 5);
  EXPECT_EQ(c.ColCount, 6);
  std::string big(100000, 'q');
  Put(c, 0, 2, Variant::String(big));
  EXPECT_EQ(c.GetValue(0, 2).AsString(), big);
}

TEST(Grid, NegativeRowFailsWithTheListError) {
  TSpreadSheetCells c;
  try {
    Put(c, 0, -3, Variant::Integer(1));
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (-3)");
  }
}

TEST(Grid, CleanUpRemovesRowsWithoutCellsAndKeepsOrder) {
  TSpreadSheetCells c;
  Put(c, 0, 0, Variant::Integer(1));
  Put(c, 0, 1, Variant::Integer(2));
  Put(c, 0, 4, Variant::Integer(5));
  EXPECT_EQ(c.RowCount, 5);
  EXPECT_EQ(c.DeleteRowsWithoutCells(), 2);
  EXPECT_EQ(c.RowCount, 3);
  EXPECT_EQ(c.GetValue(0, 2).AsInt(), 5);
  EXPECT_EQ(c.RowNo(2), 4);  // RowNo stays the row's original position
}

TEST(Grid, HugeRowNumberCostsNextToNothing) {
  TSpreadSheetCells c;
  Put(c, 0, 0, Variant::Integer(1));
  Put(c, 0, 2147483000, Variant::Integer(2));
  Put(c, 0, 1, Variant::Integer(3));
  EXPECT_EQ(c.RowCount, 2147483001);
  EXPECT_LT(c.MemoryUsed(), std::size_t(16) << 20);
  EXPECT_EQ(c.GetValue(0, 2147483000).AsInt(), 2);
  EXPECT_TRUE(c.GetValue(0, 1000000).IsNull());
  EXPECT_EQ(c.DeleteRowsWithoutCells(), 2147483001 - 3);
  EXPECT_EQ(c.RowCount, 3);
  EXPECT_EQ(c.GetValue(0, 0).AsInt(), 1);
  EXPECT_EQ(c.GetValue(0, 1).AsInt(), 3);
  EXPECT_EQ(c.GetValue(0, 2).AsInt(), 2);
}

TEST(Grid, DeleteRowMovesLaterRowsUp) {
  TSpreadSheetCells c;
  for (int r = 0; r < 4; ++r) Put(c, 0, r, Variant::Integer(r));
  Put(c, 0, 1000000, Variant::Integer(99));  // a sparse row beyond
  c.DeleteRow(1);
  EXPECT_EQ(c.GetValue(0, 1).AsInt(), 2);
  EXPECT_EQ(c.GetValue(0, 999999).AsInt(), 99);
  EXPECT_EQ(c.RowEntryCount(), 1000000);
  EXPECT_THROW(c.DeleteRow(1000000), EListError);
  c.Clear();
  EXPECT_EQ(c.RowCount, 0);
  EXPECT_EQ(c.RowEntryCount(), 0);
}

TEST(Grid, DimensionsAndAutoCount) {
  TSpreadSheetCells c;
  c.AutoCount = false;
  Put(c, 3, 3, Variant::Integer(1));
  EXPECT_EQ(c.RowCount, 0);
  c.SetDimensions(10, 20, 5);
  EXPECT_EQ(c.DimLastRow, 10);
  EXPECT_EQ(c.DimLastCol, 5);
  EXPECT_EQ(c.RowCount, 10);
  EXPECT_EQ(c.ColCount, 5);
}

TEST(Grid, RowsCopyAndClear) {
  TSpreadSheetCells c;
  c.SetCell(1, 0, Variant::Boolean(true), taLeftJustify, 3, ictBoolean);
  TSpreadSheetRow row;
  c.CopyRow(0, row);
  ASSERT_EQ(row.Cols.size(), 2u);
  EXPECT_FALSE(row.Cols[0].has_value());
  EXPECT_TRUE(row.Cols[1]->Value.AsBool());
  row.ClearRow();
  EXPECT_TRUE(row.Cols[1]->Value.IsNull());
  EXPECT_EQ(row.Cols[1]->FormatIndex, -1);
  EXPECT_EQ(row.Cols[1]->CellType, ictBoolean);
}

TEST(Sheets, ItemsGrowsTheListAndNamesSheets) {
  TSpreadSheets s;
  s.AddSheet();
  s.AddSheet();
  TSpreadSheet& last = s.Items(5);
  EXPECT_EQ(s.Count(), 6);
  EXPECT_EQ(last.Caption, "Sheet6");
  EXPECT_EQ(s[2].Caption, "Sheet3");
  EXPECT_EQ(&s.Items(-4), &s[0]);
  s[1].Caption = "ORDERS";
  EXPECT_EQ(s.IndexOfName("ORDERS"), 1);
  EXPECT_EQ(s.IndexOfName("orders"), -1);
  s.Delete(0);
  EXPECT_EQ(s.IndexOfName("ORDERS"), 0);
  EXPECT_THROW(s.Delete(9), EListError);
}

TEST(Sheets, ColumnLetters) {
  EXPECT_EQ(ColumnLetters(1), "A");
  EXPECT_EQ(ColumnLetters(26), "Z");
  EXPECT_EQ(ColumnLetters(27), "AA");
  EXPECT_EQ(ColumnLetters(702), "ZZ");
  EXPECT_EQ(ColumnLetters(703), "AAA");
  EXPECT_EQ(ColumnLetters(0), "");
  EXPECT_EQ(ColumnIndexFromLetters("a", 3), 0);
  EXPECT_EQ(ColumnIndexFromLetters("C", 3), 2);
  EXPECT_EQ(ColumnIndexFromLetters("D", 3), -1);
  EXPECT_EQ(ColumnIndexFromLetters("AAA", 1000), 702);
  EXPECT_EQ(ColumnIndexFromLetters("A1", 1000), -1);
  EXPECT_EQ(ColumnIndexFromLetters("", 1000), -1);
  EXPECT_EQ(ColumnIndexFromLetters(std::string(40, 'Z'), 2147483647), -1);
}

}  // namespace
