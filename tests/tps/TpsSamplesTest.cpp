// Interop: the real files in ../shared/samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "TestSupport.h"
#include "cells/KvExceptions.h"
#include "tps/KvTPS.h"
#include "tps/TpsTestUtil.h"

using tpstest::FieldNames;
using tpstest::Sheet;
using tpstest::Text;

namespace {

std::unique_ptr<TClarionTPS> LoadSample(const std::string& name, bool keepOpen = false) {
  auto r = std::make_unique<TClarionTPS>();
  r->KeepOpen = keepOpen;
  r->LoadFromFile(SamplesDir() + "/" + name);
  return r;
}

#define REQUIRE_SAMPLES() \
  if (SamplesDir().empty()) GTEST_SKIP() << "no sample files"

}  // namespace

TEST(TpsSamples, SmallTablesNamesKeysAndTime) {
  REQUIRE_SAMPLES();
  auto r = LoadSample("table.tps");
  ASSERT_EQ(r->Sheets().Count(), 1);
  auto& t = Sheet(*r, 0);
  EXPECT_EQ(t.Caption, "UNNAMED");
  EXPECT_EQ(FieldNames(t), (std::vector<std::string>{"OUDNR", "NEWNR"}));
  ASSERT_EQ(t.Keys.size(), 2u);
  EXPECT_EQ(t.Keys[0].Name, "CON1:KEYOUD");
  EXPECT_EQ(t.Keys[1].Name, "CON1:KEYNEW");
  EXPECT_EQ(t.Cells.RowCount, 1);
  EXPECT_EQ(Text(t, 0, 0), "1");
  EXPECT_EQ(Text(t, 1, 0), "1");

  auto tt = LoadSample("table-with-time.TPS");
  auto& s = Sheet(*tt, 0);
  EXPECT_EQ(TpsTypeName(s.Fields[0].Type), std::string("Time"));
  EXPECT_EQ(Text(s, 0, 0), "06:23:15");
  EXPECT_EQ(Text(s, 1, 0), "12:59:59");
}

TEST(TpsSamples, MemosAndRowsWithoutThem) {
  REQUIRE_SAMPLES();
  auto r = LoadSample("table-with-memos.tps");
  ASSERT_EQ(r->Sheets().Count(), 1);
  auto& t = Sheet(*r, 0);
  EXPECT_EQ(FieldNames(t), (std::vector<std::string>{"Name", "Date", "AdditionalNotes", "Notes"}));
  EXPECT_EQ(t.Fields[2].Type, tpsMEMO);
  EXPECT_EQ(t.Fields[3].Type, tpsMEMO);
  ASSERT_EQ(t.Cells.RowCount, 4);
  EXPECT_EQ(Text(t, 0, 0), "Joe Smith" + std::string(55, ' '));
  EXPECT_EQ(Text(t, 1, 0), "2016-02-09");
  EXPECT_EQ(Text(t, 2, 0), "He also likes sushi.");
  EXPECT_EQ(Text(t, 3, 0), "Joe is a great guy to work with.");
  EXPECT_EQ(Text(t, 2, 1), "She doesn't like sushi as much as Joe.");
  EXPECT_EQ(Text(t, 3, 1), "Jane knows how to make a great pot of coffee.");
  EXPECT_EQ(Text(t, 1, 2), "2019-10-07");
  EXPECT_TRUE(t.Cells.GetValue(2, 2).IsNull());
  EXPECT_TRUE(t.Cells.GetValue(3, 2).IsNull());
  EXPECT_EQ(Text(t, 2, 3), "Has a strange last name.");
  EXPECT_TRUE(t.Cells.GetValue(3, 3).IsNull());
  EXPECT_EQ(Text(t, 1, 3), "2013-03-14");
}

TEST(TpsSamples, ArraysGroupsAndArrayOfGroups) {
  REQUIRE_SAMPLES();
  auto r = LoadSample("array-of-groups.TPS");
  auto& t = Sheet(*r, 0);
  EXPECT_EQ(t.DefinitionWord2, 436);
  ASSERT_EQ(t.Cells.RowCount, 1);
  auto names = FieldNames(t);
  auto col = [&](const std::string& n) {
    return int(std::find(names.begin(), names.end(), n) - names.begin());
  };
  EXPECT_EQ(Text(t, col("A"), 0), "Hello world!        ");
  std::string b = Text(t, col("BArray"), 0);
  EXPECT_EQ(b.substr(0, 7), "(First ");
  EXPECT_NE(b.find(",Sixth"), std::string::npos);
  EXPECT_EQ(Text(t, col("CArray2_3"), 0), "(1,2,3,4,5,6)");
  EXPECT_EQ(Text(t, col("DSubA"), 0), "123456");
  EXPECT_EQ(Text(t, col("DSubB"), 0), "Field B in Group D  ");
  EXPECT_TRUE(t.Cells.GetValue(col("DGroup"), 0).IsNull());
  EXPECT_EQ(Text(t, col("ESubB"), 0), "987654");
  EXPECT_EQ(Text(t, col("ESubAArray"), 0).substr(0, 9), "(ESubA 1 ");

  // Split into columns: one per element, the array itself a Group without value.
  auto s = std::make_unique<TClarionTPS>();
  s->SplitArrayFields = true;
  s->LoadFromFile(SamplesDir() + "/array-of-groups.TPS");
  auto& u = Sheet(*s, 0);
  auto un = FieldNames(u);
  auto c = int(std::find(un.begin(), un.end(), "CArray2_3_6") - un.begin());
  ASSERT_LT(c, int(un.size()));
  EXPECT_EQ(Text(u, c, 0), "6");
  EXPECT_EQ(Text(u, int(std::find(un.begin(), un.end(), "BArray_2") - un.begin()), 0),
            "Second" + std::string(14, ' '));
}

TEST(TpsSamples, PlainTwinAndEncryptedAndHeaders) {
  REQUIRE_SAMPLES();
  auto r = LoadSample("not-encrypted.tps");
  auto& t = Sheet(*r, 0);
  EXPECT_EQ(FieldNames(t), (std::vector<std::string>{"DATUM", "TIJD", "WERKNMR", "SRTRAPPORT"}));
  ASSERT_EQ(t.Cells.RowCount, 17);
  EXPECT_EQ(Text(t, 0, 0), "73967");
  EXPECT_EQ(t.Cells.GetValue(1, 0).Kind(), VarKind::String);  // four zero bytes: empty text
  EXPECT_EQ(Text(t, 1, 0), "");
  EXPECT_EQ(t.Cells.GetCell(1, 0)->CellType, ictDate);
  EXPECT_EQ(Text(t, 2, 0), "60");
  EXPECT_EQ(Text(t, 3, 0), "o");
  EXPECT_EQ(Text(t, 0, 16), "76751");
  EXPECT_EQ(Text(t, 1, 16), "11:59:00");
  EXPECT_EQ(Text(t, 3, 16), "L");
  EXPECT_EQ(r->InvalidDateTimeCount(), 0);

  for (const char* bad : {"encrypted-a.tps", "bad-header.dat"}) {
    TClarionTPS e;
    try {
      e.LoadFromFile(SamplesDir() + "/" + bad);
      ADD_FAILURE() << bad << " loaded";
    } catch (const EKvIFileFormatException& ex) {
      EXPECT_EQ(ex.Message(),
                "File signature is not correct. Possible bad file or custom algorithm used to "
                "encypt/compress this file.");
    }
  }
  auto h = LoadSample("header.dat");
  EXPECT_EQ(h->Sheets().Count(), 0);
}

TEST(TpsSamples, IntactFilesReportNoDamage) {
  REQUIRE_SAMPLES();
  for (const char* name :
       {"table.tps", "table-with-time.TPS", "table-with-memos.tps", "array-of-groups.TPS",
        "not-encrypted.tps", "Vendors.tps", "INVHIST.TPS", "Products.tps", "Zipcodes.tps"})
    for (bool lazy : {false, true}) {
      TClarionTPS r;
      r.ResetGrid();
      r.LazyRows = lazy;
      r.LoadFromFile(SamplesDir() + "/" + name);
      EXPECT_GT(r.Sheets().Count(), 0) << name;
      EXPECT_EQ(r.Damage().Lines(), std::vector<std::string>()) << name << (lazy ? " lazy" : "");
    }
  // A lone header of a larger file: its header gives the whole file's length.
  auto h = LoadSample("header.dat");
  EXPECT_EQ(h->Damage().Lines(),
            std::vector<std::string>{
                "Warning: the file is 512 bytes but its header says 383,744: it has been cut "
                "short."});
}

TEST(TpsSamples, VendorsDecimalsAndPaddedText) {
  REQUIRE_SAMPLES();
  auto r = LoadSample("Vendors.tps");
  auto& t = Sheet(*r, 0);
  EXPECT_EQ(FieldNames(t),
            (std::vector<std::string>{"VENDORNUMBER", "VENDORNAME", "ADDRESS1", "ADDRESS2", "CITY",
                                      "STATE", "ZIPCODE", "PHONENUMBER"}));
  EXPECT_EQ(t.Keys.size(), 2u);
  ASSERT_EQ(t.Cells.RowCount, 22);
  EXPECT_EQ(Text(t, 0, 0), "1");
  EXPECT_EQ(Text(t, 1, 0), "Doug's Digs" + std::string(24, ' '));
  EXPECT_EQ(Text(t, 4, 0).substr(0, 13), "Pompano Beach");
  EXPECT_EQ(Text(t, 7, 0), "8005551212");
  EXPECT_EQ(Text(t, 1, 6).substr(0, 22), "Plants, Plants, Plants");
  EXPECT_EQ(Text(t, 7, 6), "8085568979");
  EXPECT_EQ(t.Cells.GetCell(7, 0)->Alignment, taRightJustify);
  EXPECT_EQ(t.Cells.GetCell(1, 0)->Alignment, taLeftJustify);
}

TEST(TpsSamples, InvhistRowsPlacedByRecordNumber) {
  REQUIRE_SAMPLES();
  auto r = LoadSample("INVHIST.TPS");
  auto& t = Sheet(*r, 0);
  ASSERT_EQ(t.Cells.RowCount, 2118);
  EXPECT_EQ(Text(t, 0, 0), "82034");
  EXPECT_EQ(Text(t, 1, 0), "Adj.   ");
  EXPECT_EQ(Text(t, 3, 0), "88");
  EXPECT_EQ(Text(t, 5, 0), "6.9");
  EXPECT_EQ(Text(t, 0, 2117), "82134");
  EXPECT_EQ(Text(t, 3, 2117), "-7");
  double qty = 0, cost = 0;
  int negatives = 0;
  for (int row = 0; row < 2118; ++row) {
    for (int c : {3, 5}) {
      Variant v = t.Cells.GetValue(c, row);
      ASSERT_EQ(v.Kind(), VarKind::Double) << row;
      (c == 3 ? qty : cost) += v.AsDouble();
      negatives += v.AsDouble() < 0;
    }
  }
  EXPECT_NEAR(qty, 1571.00, 1e-6);
  EXPECT_NEAR(cost, 23703.36, 1e-6);
  EXPECT_EQ(negatives, 1608);
}

TEST(TpsSamples, ProductsMemoAndBlobOnEveryRow) {
  REQUIRE_SAMPLES();
  auto r = LoadSample("Products.tps");
  auto& t = Sheet(*r, 0);
  ASSERT_EQ(t.Fields.size(), 11u);
  EXPECT_EQ(t.Fields[9].Type, tpsMEMO);
  EXPECT_EQ(t.Fields[10].Type, tpsBLOB);
  ASSERT_EQ(t.Cells.RowCount, 31);
  EXPECT_EQ(Text(t, 1, 0), "BOP-1234  ");
  EXPECT_EQ(Text(t, 3, 0), "15");
  EXPECT_EQ(Text(t, 6, 0), "7.5");
  std::string rtf = Text(t, 9, 0), blob = Text(t, 10, 0);
  EXPECT_EQ(rtf.size(), 1504u);
  EXPECT_EQ(rtf.rfind("{\\rtf1\\ansi\\ansicpg1251", 0), 0u);
  EXPECT_EQ(blob.size(), 6880u);
  EXPECT_EQ(blob.substr(0, 2), "BM");
  EXPECT_EQ(Text(t, 0, 30), "35");
  EXPECT_EQ(Text(t, 3, 30), "1.75");
  EXPECT_EQ(Text(t, 9, 30).size(), 721u);
  EXPECT_EQ(Text(t, 10, 30).size(), 6592u);
  for (int row = 0; row < 31; ++row) {
    EXPECT_EQ(t.Cells.GetCell(9, row)->CellType, ictMemo) << row;
    EXPECT_EQ(Text(t, 10, row).substr(0, 2), "BM") << row;
  }
}

TEST(TpsSamples, ZipcodesStalePageAndIndexPages) {
  REQUIRE_SAMPLES();
  auto r = LoadSample("Zipcodes.tps", true);
  auto& t = Sheet(*r, 0);
  EXPECT_EQ(t.Keys.size(), 3u);
  ASSERT_EQ(t.Cells.RowCount, 3834);
  EXPECT_EQ(Text(t, 0, 0), "00001     ");
  EXPECT_EQ(Text(t, 1, 0).substr(0, 6), "Boston");
  EXPECT_EQ(Text(t, 2, 0), "MA");
  EXPECT_EQ(Text(t, 1, 1).substr(0, 11), "Rome, Italy");
  EXPECT_EQ(Text(t, 2, 1), "  ");
  EXPECT_EQ(Text(t, 0, 3833), "sw33pr    ");
  EXPECT_EQ(Text(t, 2, 3833), "EN");
  std::map<std::string, int> states;
  for (int row = 0; row < 3834; ++row) ++states[Text(t, 2, row)];
  EXPECT_EQ(states.size(), 66u);
  EXPECT_EQ(states["FL"], 1615);
  // Every record number appears once: the stale page added none.
  std::size_t data = 0;
  for (const auto& rec : r->Records().Items()) data += rec.Kind == tpsKindData;
  EXPECT_EQ(data, 3834u);
}
