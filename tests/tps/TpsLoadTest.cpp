// Table loading: naming, selected table, row production, events and clean-up.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "TestSupport.h"
#include "cells/KvExceptions.h"
#include "tps/TpsTestUtil.h"
#include "tpswriter/TpsDemo.h"
#include "tpswriter/TpsWriter.h"

using tpstest::FieldNames;
using tpstest::Load;
using tpstest::Sheet;
using tpstest::Text;

namespace {

tpsw::Table Customer(std::int32_t number, std::string name) {
  tpsw::Table t;
  t.number = number;
  t.name = std::move(name);
  t.fields = {tpsw::Field(tpsw::kLong, "CUS:ID", 0, 4),
              tpsw::Field(tpsw::kString, "CUS:NAME", 4, 10),
              tpsw::Field(tpsw::kDecimal, "CUS:AMOUNT", 14, 4, 1, 2),
              tpsw::Field(tpsw::kDate, "CUS:SINCE", 18, 4)};
  t.memos = {tpsw::Memo("CUS:NOTES")};
  return t;
}

std::vector<std::uint8_t> TwoTables() {
  std::vector<std::uint8_t> file;
  tpsw::Writer w(&file);
  tpsw::Table a = Customer(1, "FIRST"), b = Customer(2, "SECOND");
  w.AddTable(a);
  w.AddTable(b);
  for (int rec : {1, 2, 5}) {
    tpsw::Payload p(a.RecordLength());
    tpsw::PutValue(p, a.fields[0], std::to_string(rec));
    tpsw::PutValue(p, a.fields[1], "n" + std::to_string(rec));
    tpsw::PutValue(p, a.fields[2], "1.25");
    tpsw::PutValue(p, a.fields[3], "2020-02-02");
    w.AddRow(1, rec, p, {{0, "memo " + std::to_string(rec)}});
    w.AddRow(2, rec + 10, p);
  }
  return file;
}

struct Events {
  std::vector<std::tuple<int, int, int>> widths;
  std::vector<std::pair<std::int64_t, std::int64_t>> progress;
  std::vector<std::pair<int, int>> statuses;
  std::vector<std::tuple<int, int, int, TAlignment, TKvICellType>> cells;
};

void Bind(TClarionTPS& r, Events& ev) {
  r.OnColumnWidth = [&](TCustomSpreadSheetFile*, std::int32_t s, std::int32_t c, std::int32_t w) {
    ev.widths.emplace_back(s, c, w);
  };
  r.OnLoadProgress = [&](TCustomSpreadSheetFile*, std::int64_t p, std::int64_t t) {
    ev.progress.emplace_back(p, t);
  };
  r.OnRecordStatusChanged = [&](TCustomSpreadSheetFile*, std::int32_t s, std::int32_t row,
                                TKvIRowStatus) { ev.statuses.emplace_back(s, row); };
  r.OnCellValue = [&r, &ev](TCustomSpreadSheetFile*, std::int32_t s, std::int32_t row,
                            std::int32_t col, std::int32_t fi, const Variant& v, TAlignment a,
                            TKvICellType t) {
    ev.cells.emplace_back(s, row, col, a, t);
    r.GridCellValue(s, row, col, fi, v, a, t);
  };
}

}  // namespace

TEST(TpsLoad, TablesRowsAndCleanUp) {
  TClarionTPS r;
  r.ResetGrid();
  Events ev;
  Bind(r, ev);
  TMemoryStream s(TwoTables());
  r.LoadFromStream(s);
  ASSERT_EQ(r.Sheets().Count(), 2);
  auto& a = Sheet(r, 0);
  EXPECT_EQ(a.Caption, "FIRST");
  EXPECT_EQ(a.TableName, "FIRST");
  EXPECT_EQ(FieldNames(a), (std::vector<std::string>{"ID", "NAME", "AMOUNT", "SINCE", "NOTES"}));
  // Record numbers 1, 2 and 5: rows 0, 1 and 4 reported, three rows after the clean-up.
  EXPECT_EQ(a.Cells.RowCount, 3);
  EXPECT_EQ(Text(a, 0, 2), "5");
  EXPECT_EQ(Text(a, 4, 2), "memo 5");
  EXPECT_EQ(Text(Sheet(r, 1), 0, 2), "5");
  EXPECT_EQ(Sheet(r, 1).Cells.RowCount, 3);
  EXPECT_TRUE(Sheet(r, 1).Cells.GetValue(4, 0).IsNull());

  // Events: SheetNo counts the empty selected table that existed while rows were produced.
  bool sawRow4 = false;
  for (auto& [sheet, row, col, align, type] : ev.cells) {
    if (row == 4) sawRow4 = true;
    if (type == ictInteger || type == ictDecimal)
      EXPECT_EQ(align, taRightJustify);
    else
      EXPECT_EQ(align, taLeftJustify);
  }
  EXPECT_TRUE(sawRow4);
  EXPECT_EQ(ev.cells.size(), 6u * 5u);
  ASSERT_EQ(ev.statuses.size(), 6u);
  EXPECT_EQ(ev.statuses[0], (std::pair<int, int>{1, 0}));
  EXPECT_EQ(ev.progress.size(), 6u);
  EXPECT_EQ(ev.progress.back().second, 10);  // two names, two definitions, six rows
  ASSERT_EQ(ev.widths.size(), 10u);
  EXPECT_EQ(ev.widths[1], (std::tuple<int, int, int>{1, 1, 10}));
}

TEST(TpsLoad, SelectedTableAndRowStatuses) {
  // TableNumber 2: both tables are built, only table 2 gets cells; table 1 stays.
  TClarionTPS r;
  r.ResetGrid();
  r.TableNumber = 2;
  TMemoryStream s(TwoTables());
  r.LoadFromStream(s);
  EXPECT_EQ(r.TableNumber, 2);
  ASSERT_EQ(r.Sheets().Count(), 2);
  EXPECT_EQ(Sheet(r, 0).TableNumber, 2);  // the selected table is looked up first
  EXPECT_EQ(Sheet(r, 0).Cells.RowCount, 3);
  EXPECT_EQ(Sheet(r, 1).TableNumber, 1);
  EXPECT_EQ(Sheet(r, 1).Cells.RowCount, 0);
  EXPECT_EQ(Sheet(r, 1).Fields.size(), 5u);
  EXPECT_EQ(r.ColumnIndexByName("amount"), 2);
  EXPECT_EQ(r.ColumnIndexByName("nothing"), -1);
  TColumnNameList names;
  r.GetColumnNames(names, "");
  ASSERT_EQ(names.size(), 5u);
  EXPECT_EQ(names[4], (std::pair<std::string, std::int32_t>{"NOTES", 4}));
  r.SetColumnName(1, "RENAMED");
  EXPECT_EQ(Sheet(r, 0).Fields[1].Name, "RENAMED");
  EXPECT_EQ(r.GetTypeName(10), "Decimal");

  // Without rsNormal: tables with their fields, no cells.
  TClarionTPS q;
  q.ResetGrid();
  q.LoadRowStatutes = TKvIRowStatuses{rsDeleted};
  TMemoryStream s2(TwoTables());
  q.LoadFromStream(s2);
  ASSERT_EQ(q.Sheets().Count(), 2);
  EXPECT_EQ(Sheet(q, 0).Cells.RowCount, 0);
  EXPECT_EQ(Sheet(q, 0).Fields.size(), 5u);

  // The window's LastRow ends row production at that position of the records list
  // (two names and two definitions come first, then the rows of both tables in turn).
  // Table 2's row 10 is then dropped by the grid's own window check.
  TClarionTPS w;
  w.ResetGrid();
  Events ev;
  Bind(w, ev);
  w.Range.LastRow = 5;
  TMemoryStream s4(TwoTables());
  w.LoadFromStream(s4);
  ASSERT_EQ(w.Sheets().Count(), 2);
  EXPECT_EQ(ev.statuses, (std::vector<std::pair<int, int>>{{1, 0}, {2, 10}}));
  EXPECT_EQ(Sheet(w, 0).Cells.RowCount, 1);
  EXPECT_EQ(Sheet(w, 1).Cells.RowCount, 0);

  // Without OnCellValue: no rows.
  TClarionTPS n;
  TMemoryStream s3(TwoTables());
  n.LoadFromStream(s3);
  ASSERT_EQ(n.Sheets().Count(), 2);
  EXPECT_EQ(Sheet(n, 1).Cells.RowCount, 0);
}

TEST(TpsLoad, NamingAndPrefixes) {
  tpsw::Table t = Customer(1, "");
  auto bytes = tpsw::Fixture(t, {{"1", "a", "1", "2020-01-01", ""}});
  // No name record: the file name without its directory.
  auto r = Load(bytes, "/some/dir/CUST.TPS");
  ASSERT_EQ(r->Sheets().Count(), 1);
  EXPECT_EQ(Sheet(*r, 0).Caption, "CUST.TPS");
  auto w = Load(bytes, "C:\\data\\WIN.TPS");
  EXPECT_EQ(Sheet(*w, 0).Caption, "WIN.TPS");

  TClarionTPS keep;
  keep.ResetGrid();
  keep.AutoPatchFieldNames = false;
  TMemoryStream s(bytes);
  keep.LoadFromStream(s);
  EXPECT_EQ(FieldNames(Sheet(keep, 0))[1], "CUS:NAME");
  EXPECT_EQ(Sheet(keep, 0).Fields[0].Name, "CUS:ID");
}

TEST(TpsLoad, KeepOpenAndRepeatedLoads) {
  auto bytes = TwoTables();
  TClarionTPS r;
  r.ResetGrid();
  r.KeepOpen = true;
  TMemoryStream s(bytes);
  r.LoadFromStream(s);
  EXPECT_GT(r.Records().Count(), 0u);
  // A second load appends: the same table numbers get their fields once more.
  TMemoryStream s2(bytes);
  r.LoadFromStream(s2);
  ASSERT_EQ(r.Sheets().Count(), 2);
  EXPECT_EQ(Sheet(r, 0).Fields.size(), 10u);

  TClarionTPS c;
  c.ResetGrid();
  TMemoryStream s3(bytes);
  c.LoadFromStream(s3);
  EXPECT_EQ(c.Records().Count(), 0u);  // released at the end of the load

  // From a file, through LoadFromFile.
  TempDir dir;
  WriteFileBytes(dir.File("two.tps"), bytes);
  TClarionTPS f;
  f.LoadFromFile(dir.File("two.tps"));
  EXPECT_EQ(f.FileName, dir.File("two.tps"));
  ASSERT_EQ(f.Sheets().Count(), 2);
  EXPECT_EQ(Text(Sheet(f, 0), 4, 1), "memo 2");
  EXPECT_EQ(f.GetMemoText(4, 1), "");  // the selected table (0) has no such field
  f.TableNumber = 1;
  EXPECT_EQ(f.GetMemoText(4, 1), "memo 2");
  EXPECT_EQ(f.GetMemoText(1, 1), "");  // not a memo field
  EXPECT_THROW(f.LoadFromFile(dir.File("missing.tps")), EKvIFileException);
}

TEST(TpsLoad, GeneratedStreamingFile) {
  // Many rows written to a file through the streaming writer, read back whole.
  TempDir dir;
  tpsw::Table t = Customer(5, "BIG");
  {
    tpsw::Writer w(dir.File("big.tps"));
    w.AddTable(t);
    tpsw::Payload p(t.RecordLength());
    for (int rec = 1; rec <= 20000; ++rec) {
      p.PutLong(0, rec).PutString(4, 10, "row" + std::to_string(rec));
      p.PutDecimal(14, 4, 2, std::to_string(rec % 1000) + ".5");
      p.PutDate(18, 2000 + rec % 20, 1 + rec % 12, 1 + rec % 28);
      w.AddRow(
          5, rec, p,
          rec % 100 == 0 ? std::vector<tpsw::MemoText>{{0, "m"}} : std::vector<tpsw::MemoText>{});
    }
  }
  TClarionTPS r;
  r.LoadFromFile(dir.File("big.tps"));
  auto& s = Sheet(r, 0);
  ASSERT_EQ(s.Cells.RowCount, 20000);
  EXPECT_EQ(Text(s, 1, 19999), "row20000  ");
  EXPECT_EQ(Text(s, 2, 998), "999.5");
  EXPECT_EQ(Text(s, 4, 99), "m");
  EXPECT_TRUE(s.Cells.GetValue(4, 100).IsNull());
}

// A large generated file (tpsgen bench), named by VELTRO_TPS_BIG_FILE; skipped
// otherwise. Used to measure load time and memory from outside.
TEST(TpsLoad, BigGeneratedFile) {
  const char* path = std::getenv("VELTRO_TPS_BIG_FILE");
  if (!path || !*path) GTEST_SKIP() << "VELTRO_TPS_BIG_FILE not set";
  TClarionTPS r;
  r.KeepOpen = true;  // as the front end loads
  r.LoadFromFile(path);
  ASSERT_EQ(r.Sheets().Count(), 1);
  auto& s = Sheet(r, 0);
  EXPECT_EQ(s.Caption, "SALES");
  ASSERT_GT(s.Cells.RowCount, 0);
  EXPECT_EQ(Text(s, 0, s.Cells.RowCount - 1), std::to_string(s.Cells.RowCount));
  EXPECT_EQ(Text(s, 10, 9).rfind("Order 10 for ", 0), 0u);
  std::printf("rows: %d, invalid dates: %lld\n", s.Cells.RowCount,
              (long long)r.InvalidDateTimeCount());
}

TEST(TpsLoad, DemoFile) {
  TempDir dir;
  tpsw::WriteDemo(dir.File("demo.tps"));
  TClarionTPS r;
  r.LoadFromFile(dir.File("demo.tps"));
  ASSERT_EQ(r.Sheets().Count(), 2);
  auto& c = Sheet(r, 0);
  auto& o = Sheet(r, 1);
  EXPECT_EQ(c.Caption, "CUSTOMER");
  EXPECT_EQ(o.Caption, "ORDERS");
  EXPECT_EQ(FieldNames(c),
            (std::vector<std::string>{"ID", "NAME", "CITY", "BALANCE", "SINCE", "CALLTIME",
                                      "RATING", "ADDRESS", "STREET", "ZIP", "NOTES"}));
  ASSERT_EQ(c.Cells.RowCount, 300);
  ASSERT_EQ(o.Cells.RowCount, 500);
  int memos = 0, negative = 0;
  for (int row = 0; row < 300; ++row) {
    EXPECT_EQ(Text(c, 0, row), std::to_string(row + 1));
    EXPECT_TRUE(c.Cells.GetValue(7, row).IsNull());  // the group
    EXPECT_EQ(c.Cells.GetValue(4, row).Kind(), VarKind::Date);
    memos += !c.Cells.GetValue(10, row).IsNull();
    negative += c.Cells.GetValue(3, row).AsDouble() < 0;
  }
  EXPECT_EQ(memos, 100);
  EXPECT_GT(negative, 0);
  EXPECT_EQ(r.InvalidDateTimeCount(), 0);
  // The same bytes every time.
  tpsw::WriteDemo(dir.File("again.tps"));
  EXPECT_EQ(ReadFileBytes(dir.File("demo.tps")), ReadFileBytes(dir.File("again.tps")));
}
