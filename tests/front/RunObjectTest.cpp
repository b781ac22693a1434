#include <gtest/gtest.h>

#include "front/RunObject.h"
#include "front/VeltroMain.h"

TEST(RunObject, StoreCellValueGrowsSheetsAndDropsBadCells) {
  TA a;
  a.Reader = std::make_unique<TClarionTPS>();
  TSpreadSheets& sheets = a.Reader->Sheets();
  a.StoreCellValue(a.Reader.get(), 2, 4, 1, 0, Variant::Integer(5), taRightJustify, ictInteger);
  ASSERT_EQ(sheets.Count(), 3);
  // Sheets the list creates are tables.
  EXPECT_NE(dynamic_cast<TTPSClarionTable*>(&sheets[0]), nullptr);
  EXPECT_TRUE(sheets[2].Cells.GetValue(1, 4).SameAs(Variant::Integer(5)));
  EXPECT_EQ(sheets[2].Cells.RowCount, 5);
  // A cell that cannot be stored (negative row) is dropped without a failure.
  EXPECT_NO_THROW(a.StoreCellValue(a.Reader.get(), 0, -1, 0, 0, Variant::Integer(1), taLeftJustify,
                                   ictInteger));
  // Null and Empty store nothing.
  a.StoreCellValue(a.Reader.get(), 0, 0, 0, 0, Variant::Null(), taLeftJustify, ictEmpty);
  a.StoreCellValue(a.Reader.get(), 0, 1, 0, 0, Variant(), taLeftJustify, ictEmpty);
  EXPECT_FALSE(sheets[0].Cells.GetCell(0, 0).has_value());
  EXPECT_FALSE(sheets[0].Cells.GetCell(0, 1).has_value());
}

TEST(FailureReportText, ClassModuleAddressAndFullStop) {
  const void* address = reinterpret_cast<const void*>(std::uintptr_t(0x412A3C));
  EXPECT_EQ(FailureReport("EFCreateError", "/usr/local/bin/veltro", address,
                          "Cannot create file x/y.txt"),
            "Exception EFCreateError in module veltro at 0000000000412A3C.\r\n"
            "Cannot create file x/y.txt.\r\n");
  EXPECT_EQ(FailureReport("Exception", "veltro", address, "Stream read error."),
            "Exception Exception in module veltro at 0000000000412A3C.\r\n"
            "Stream read error.\r\n");
  EXPECT_EQ(FailureReport("E", "v", nullptr, ""),
            "Exception E in module v at 0000000000000000.\r\n.\r\n");
}
