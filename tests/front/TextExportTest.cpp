#include <gtest/gtest.h>

#include <limits>
#include <span>
#include <thread>

#include "TestSupport.h"
#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "front/OutputPaths.h"
#include "front/WriteTextSupport.h"
#include "tps/KvTPS.h"
#include "tps/KvTPSSchema.h"
#include "tps/TpsMixedFile.h"
#include "tpswriter/TpsDemo.h"
#include "tpswriter/TpsWriter.h"

TEST(TextExportHelpers, QuoteTextDoublesTheQualifier) {
  EXPECT_EQ(QuoteText("\"hi\"", "\""), "\"\"\"hi\"\"\"");
  EXPECT_EQ(QuoteText("a\"\"b", "\""), "\"a\"\"\"\"b\"");
  EXPECT_EQ(QuoteText("", "'"), "''");
  EXPECT_EQ(QuoteText("it's", "'"), "'it''s'");
  // A longer qualifier: walking from the end, every place the text continues with it
  // gets a second one.
  EXPECT_EQ(QuoteText("x||y", "||"), "||x||||y||");
  EXPECT_EQ(QuoteText("|||", "||"), std::string(11, '|'));
}

TEST(TextExportHelpers, PaddingNeverCuts) {
  EXPECT_EQ(PadLeft("7", 8), "       7");
  EXPECT_EQ(PadRight("ID", 8), "ID      ");
  EXPECT_EQ(PadLeft("123456789", 3), "123456789");
  EXPECT_EQ(PadRight("abcdef", 2), "abcdef");
  EXPECT_EQ(PadRight("", 0), "");
}

TEST(TextExportHelpers, TypeLettersWidthsAndClasses) {
  struct Case {
    TTPSTypeCode type;
    char letter;
    std::int32_t width;  // of a column named "X" of 6 bytes
    bool numeric, groupLike;
  };
  const Case cases[] = {
      {tpsUnknown, 'U', 6, false, true},
      {tpsByte, 'B', 3, true, false},
      {tpsShort, 'S', 5, true, false},
      {tpsUShort, 'U', 5, true, false},
      {tpsDate, 'D', 6, false, false},
      {tpsTime, 'T', 6, false, false},
      {tpsLong, 'L', 8, true, false},
      {tpsULong, 'U', 8, true, false},
      {tpsFloat, 'F', 15, true, false},
      {tpsDouble, 'D', 15, true, false},
      {tpsDecimal, 'D', 15, true, false},
      {tpsChar, 'C', 6, false, false},
      {tpsVarChar, 'V', 6, false, false},
      {tpsMaskString, 'M', 6, false, false},
      {tpsGroup, 'G', 6, false, true},
      {tpsBLOB, 'B', 6, false, false},
      {tpsMEMO, 'M', 6, false, false},
      {tpsString, 'S', 6, false, true},
      {TTPSTypeCode(200), 'U', 6, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.type));
    const TTableColumn column = MakeTableColumn("X", c.type, 6);
    EXPECT_EQ(column.Letter, c.letter);
    EXPECT_EQ(FieldWidth(column), c.width);
    EXPECT_EQ(column.Numeric, c.numeric);
    EXPECT_EQ(column.GroupLike, c.groupLike);
  }
  // A longer name widens the column.
  EXPECT_EQ(FieldWidth(MakeTableColumn("A_VERY_LONG_NAME", tpsLong, 4)), 16);
  EXPECT_EQ(FieldWidth(MakeTableColumn("GRP", tpsGroup, 0)), 3);
}

TEST(TextExportHelpers, FieldSelection) {
  const TTableSchema schema = TestSchema({{tpsLong, "ID", 4},
                                          {tpsGroup, "ADDRESS", 30},
                                          {tpsChar, "Street", 20},
                                          {tpsChar, "NAME", 20}});
  auto names = [&](bool skipGroups, const std::string& fields) {
    std::string s;
    for (std::int32_t c : SelectColumns(schema, skipGroups, fields))
      s += std::to_string(c) + schema.Columns[std::size_t(c)].Name + ";";
    return s;
  };
  EXPECT_EQ(names(false, ""), "0ID;1ADDRESS;2Street;3NAME;");
  EXPECT_EQ(names(true, ""), "0ID;2Street;3NAME;");
  // Table order is kept whatever the order of the list.
  EXPECT_EQ(names(false, "name;street;"), "2Street;3NAME;");
  // Whole names only: "me" does not select NAME.
  EXPECT_EQ(names(false, "me;i;"), "");
  EXPECT_EQ(names(true, "address;"), "");
}

TEST(OutputNaming, DerivedPathsStayBesideTarget) {
  EXPECT_EQ(OutputPathFor("out.txt", "ORDERS"), "out.ORDERS.txt");
  EXPECT_EQ(OutputPathFor("data", "ORDERS"), "data.ORDERS");
  EXPECT_EQ(OutputPathFor("out/data.txt", "ORDERS"), "out/data.ORDERS.txt");
  EXPECT_EQ(OutputPathFor("/tmp/x.y/data", "T"), "/tmp/x.y/data.T");
  EXPECT_EQ(OutputPathFor("a.b.csv", "T"), "a.b.T.csv");
  EXPECT_EQ(OutputPathFor("out.txt", "UNNAMED"), "out.txt");
  EXPECT_EQ(OutputPathFor("out.txt", ""), "out.txt");
  EXPECT_EQ(OutputPathFor("out.txt", "unnamed"), "out.unnamed.txt");
  // Names from the file cannot lead out of Target's directory.
  EXPECT_EQ(OutputPathFor("dir/out.txt", "../../etc/passwd"), "dir/out..._.._etc_passwd.txt");
  EXPECT_EQ(OutputPathFor("out.txt", ".."), "out._.txt");
  EXPECT_EQ(OutputPathFor("out.txt",
                          "a\\b:c\x01"
                          "d\x7f"),
            "out.a_b_c_d_.txt");
#ifdef _WIN32
  EXPECT_EQ(SanitizeTableName("a<b>c\"d|e?f*"), "a_b_c_d_e_f_");
#else
  EXPECT_EQ(SanitizeTableName("a<b>c\"d|e?f*"), "a<b>c\"d|e?f*");
#endif
  EXPECT_EQ(SanitizeTableName("..."), "_");
  EXPECT_EQ(SanitizeTableName(".a."), ".a.");
  EXPECT_EQ(SanitizeTableName(""), "");
  EXPECT_EQ(InsertBeforeExtension("out/data.ORDERS.txt", "2"), "out/data.ORDERS.2.txt");
  EXPECT_EQ(InsertBeforeExtension("data.txt", "2"), "data.2.txt");
  EXPECT_EQ(InsertBeforeExtension("x.d/data", "3"), "x.d/data.3");
}

namespace {

// Writes a sheet with the given columns through the writer and returns the file's bytes.
std::string Render(const TSpreadSheetCells& cells, const TTableSchema& fields,
                   const TRunOptions& format, const TRowTest& rowTest = {}) {
  TempDir dir;
  const std::string path = dir.File("out.txt");
  TBufferedFileWriter out(path, 64);  // a small buffer: lines cross buffer boundaries
  WriteText(out, cells, fields, format, FormatSettings::Iso(), rowTest);
  out.Close();
  return ReadFileText(path);
}

}  // namespace

TEST(WriteTableText, DelimitedFixedAndHeaderLines) {
  const TTableSchema fields = TestSchema({{tpsLong, "ID", 4}, {tpsChar, "NAME", 20}});
  TSpreadSheetCells cells;
  cells.SetCell(0, 0, Variant::Integer(7), taRightJustify, 0, ictInteger);
  cells.SetCell(1, 0, Variant::String("Smith"), taLeftJustify, 0, ictString);
  cells.SetCell(0, 1, Variant::Integer(-12), taRightJustify, 0, ictInteger);

  TRunOptions f;
  f.Header = true;
  EXPECT_EQ(Render(cells, fields, f), "ID\tNAME\r\n7\tSmith\r\n-12\t\r\n");

  f.Fixed = true;
  f.Delimiter = kNoneMarker;
  EXPECT_EQ(Render(cells, fields, f),
            "ID      NAME                \r\n"
            "       7Smith               \r\n"
            "     -12                    \r\n");

  // Fixed keeps the default TAB delimiter; the type line is padded like the header.
  TRunOptions g;
  g.Fixed = true;
  g.TypeLine = true;
  g.RecordSeparator = "\n";
  EXPECT_EQ(Render(cells, fields, g),
            "L       \tC                   \n"
            "       7\tSmith               \n"
            "     -12\t                    \n");

  // Header and type line without Fixed; an empty delimiter joins the values.
  TRunOptions h;
  h.Header = h.TypeLine = true;
  h.Delimiter = "";
  h.RecordSeparator = "\r";
  EXPECT_EQ(Render(cells, fields, h), "IDNAME\rLC\r7Smith\r-12\r");
}

TEST(WriteTableText, QualifierEmptyValuesAndFieldList) {
  const TTableSchema fields =
      TestSchema({{tpsLong, "ID", 4}, {tpsChar, "NAME", 20}, {tpsChar, "CITY", 10}});
  TSpreadSheetCells cells;
  cells.SetCell(0, 0, Variant::Integer(1), taRightJustify, 0, ictInteger);
  cells.SetCell(1, 0, Variant::String("say \"hi\""), taLeftJustify, 0, ictString);
  cells.SetCell(2, 0, Variant::String("Rome"), taLeftJustify, 0, ictString);
  cells.SetCell(2, 1, Variant::String("Oslo"), taLeftJustify, 0, ictString);

  TRunOptions f;
  f.Qualifier = "\"";
  f.Delimiter = ",";
  EXPECT_EQ(Render(cells, fields, f), "\"1\",\"say \"\"hi\"\"\",\"Rome\"\r\n,,\"Oslo\"\r\n");

  // Only the listed fields, in the table's order, no delimiter before the first.
  f.Fields = "city;name;";
  f.Header = true;
  EXPECT_EQ(Render(cells, fields, f),
            "\"NAME\",\"CITY\"\r\n\"say \"\"hi\"\"\",\"Rome\"\r\n,\"Oslo\"\r\n");
  // A list that matches nothing gives empty lines.
  f.Fields = "zip;";
  EXPECT_EQ(Render(cells, fields, f), "\r\n\r\n\r\n");
}

TEST(WriteTableText, GroupsRowsAndRowTest) {
  const TTableSchema fields =
      TestSchema({{tpsLong, "ID", 4}, {tpsGroup, "ADDRESS", 40}, {tpsChar, "STREET", 30}});
  TSpreadSheetCells cells;
  for (int r = 0; r < 3; ++r) {
    cells.SetCell(0, r, Variant::Integer(r + 1), taRightJustify, 0, ictInteger);
    cells.SetCell(2, r, Variant::String("S" + std::to_string(r)), taLeftJustify, 0, ictString);
  }
  TRunOptions f;
  f.SkipGroups = true;
  EXPECT_EQ(Render(cells, fields, f), "1\tS0\r\n2\tS1\r\n3\tS2\r\n");
  f.SkipGroups = false;
  EXPECT_EQ(Render(cells, fields, f), "1\t\tS0\r\n2\t\tS1\r\n3\t\tS2\r\n");
  // Rows the row test turns down are left out; the others keep their order.
  EXPECT_EQ(Render(cells, fields, f, [](std::int32_t row) { return row != 1; }),
            "1\t\tS0\r\n3\t\tS2\r\n");

  // A table without rows writes only its header.
  TSpreadSheetCells empty;
  f.Header = true;
  EXPECT_EQ(Render(empty, fields, f), "ID\tADDRESS\tSTREET\r\n");
}

TEST(WriteTableText, ValuesOfEveryKindUseTheirTextForm) {
  const TTableSchema fields = TestSchema({{tpsDate, "D", 4},
                                          {tpsTime, "T", 4},
                                          {tpsDecimal, "DEC", 6},
                                          {tpsDouble, "DBL", 8},
                                          {tpsMEMO, "MEMO", 0}});
  TSpreadSheetCells cells;
  cells.SetCell(0, 0, Variant::Date(36526), taLeftJustify, 0, ictDate);  // 2000-01-01
  cells.SetCell(1, 0, Variant::Date(13.0 / 24 + 5.0 / 1440), taLeftJustify, 0, ictTime);
  cells.SetCell(2, 0, Variant::CurrencyScaled(-69000), taRightJustify, 0, ictDecimal);
  cells.SetCell(3, 0, Variant::Double(0.5), taRightJustify, 0, ictDecimal);
  cells.SetCell(4, 0, Variant::String("line1\r\nline2"), taLeftJustify, 0, ictMemo);
  TRunOptions f;
  EXPECT_EQ(Render(cells, fields, f), "2000-01-01\t13:05:00\t-6.9\t0.5\tline1\r\nline2\r\n");
}

namespace {

// Writes the sheet with the given number of threads; the failure message, if any,
// follows the file's bytes.
std::string RenderWith(const TSpreadSheetCells& cells, const TTableSchema& fields,
                       const TRunOptions& format, unsigned threads, const TRowTest& rowTest = {},
                       std::uint64_t maxBytes = UINT64_MAX) {
  TWalkLimits limits;
  limits.Threads = threads;
  limits.MaxBytes = maxBytes;
  TempDir dir;
  const std::string path = dir.File("out.txt");
  std::string failure;
  {
    TBufferedFileWriter out(path);
    try {
      WriteText(out, cells, fields, format, FormatSettings::Iso(), rowTest, limits);
    } catch (const Exception& e) {
      failure = "\nfailed: " + e.Message();
    }
    out.Close();
  }
  return ReadFileText(path) + failure;
}

}  // namespace

// Two threads formatting blocks of rows write the same bytes as one, for rows decoded
// on demand (memos, dates, times, decimals) and for stored rows, in every layout, and
// stop at the same line when the text limit is reached anywhere in a block.
TEST(WriteTableText, TwoThreadsWriteWhatOneWrites) {
  TempDir dir;
  const std::string path = dir.File("bench.tps");
  const tpsw::BenchResult made = tpsw::WriteBench(path, 2.2);
  ASSERT_GT(made.rows, 3 * 8192);  // blocks of rows for each thread
  for (bool lazy : {true, false}) {
    SCOPED_TRACE(lazy ? "rows on demand" : "stored rows");
    TFileStream file(path);
    TClarionTPS reader;
    reader.ResetGrid();
    reader.LazyRows = lazy;
    reader.LoadFromStream(file);
    ASSERT_EQ(reader.Sheets().Count(), 1);
    const auto& table = dynamic_cast<const TTPSClarionTable&>(reader.Sheets()[0]);
    ASSERT_EQ(table.Cells.HasRowSource(), lazy);
    ASSERT_EQ(table.Cells.RowCount, made.rows);
    const TTableSchema fields = TpsTableSchema(table);

    TRunOptions plain;
    plain.Header = true;
    TRunOptions fixed;
    fixed.Fixed = true;
    fixed.TypeLine = true;
    fixed.Fields = "id;note;date;amount;";
    TRunOptions quoted;
    quoted.Delimiter = ", ";
    quoted.Qualifier = "\"";
    quoted.RecordSeparator = "\n";
    // Stored rows are only read: the plain layout is enough for them.
    for (const TRunOptions& format :
         lazy ? std::vector<TRunOptions>{plain, fixed, quoted} : std::vector{plain}) {
      const std::string one = RenderWith(table.Cells, fields, format, 1);
      ASSERT_GT(one.size(), 1000000u);
      EXPECT_EQ(one.find("failed"), std::string::npos);
      EXPECT_TRUE(RenderWith(table.Cells, fields, format, 2) == one);
    }

    // A row test is asked about every row once, in order, by one thread; a failing
    // test ends the text after the lines of the rows before it.
    for (const std::int32_t failAt : {-1, 3 * 8192 + 77}) {
      SCOPED_TRACE(failAt);
      std::vector<std::int32_t> asked[2];
      std::string text[2];
      for (unsigned threads : {1u, 2u}) {
        std::vector<std::int32_t>& rows = asked[threads - 1];
        const std::thread::id caller = std::this_thread::get_id();
        text[threads - 1] = RenderWith(table.Cells, fields, plain, threads, [&](std::int32_t row) {
          EXPECT_EQ(std::this_thread::get_id(), caller);
          rows.push_back(row);
          if (row == failAt) throw Exception("test failed at " + std::to_string(row));
          return row % 3 != 1 && (row / 5000) % 2 == 0;  // some blocks without a line
        });
      }
      EXPECT_TRUE(text[1] == text[0]);
      EXPECT_EQ(text[0].find("failed") != std::string::npos, failAt >= 0);
      EXPECT_EQ(asked[1], asked[0]);
      ASSERT_EQ(asked[0].size(), failAt >= 0 ? std::size_t(failAt + 1) : std::size_t(made.rows));
      for (std::size_t i = 0; i < asked[0].size(); ++i) ASSERT_EQ(asked[0][i], std::int32_t(i));
    }

    if (!lazy) continue;
    // Limits inside the first block, on a line's end and inside a line of a later block.
    const std::string whole = RenderWith(table.Cells, fields, plain, 1);
    const std::size_t lineEnd = whole.find("\r\n", whole.size() / 2) + 2;
    for (std::uint64_t limit :
         {std::uint64_t(5000), std::uint64_t(lineEnd), std::uint64_t(whole.size() * 3 / 4 + 7)}) {
      SCOPED_TRACE(limit);
      const std::string one = RenderWith(table.Cells, fields, plain, 1, {}, limit);
      EXPECT_NE(one.find("\nfailed: " + std::string(kTextLimitMessage)), std::string::npos);
      EXPECT_LE(one.find("\nfailed"), limit);
      EXPECT_TRUE(RenderWith(table.Cells, fields, plain, 2, {}, limit) == one);
      // The same limit on the rows of a row test.
      const TRowTest odd = [](std::int32_t row) { return row % 2 == 1; };
      const std::string tested = RenderWith(table.Cells, fields, plain, 1, odd, limit);
      if (limit == 5000) {
        EXPECT_NE(tested.find("\nfailed"), std::string::npos);
      }
      EXPECT_TRUE(RenderWith(table.Cells, fields, plain, 2, odd, limit) == tested);
    }
  }
}

namespace {

// One table of values a plain line written from a record leaves to the general way
// (a year before 1000, the day 1899-12-30), texts longer than the line's buffer,
// decimals of 15 digits (a stored cell keeps a decimal's Double, not its digits) and
// times with the hours' top bit set, among ordinary values.
std::vector<std::uint8_t> OddValuesFile() {
  tpsw::Table t;
  t.number = 1;
  t.name = "ODD";
  t.fields = {tpsw::Field{tpsw::kString, "O:TEXT", 0, 700},
              tpsw::Field{tpsw::kDate, "O:DAY", 700, 4},
              tpsw::Field{tpsw::kDecimal, "O:BIG", 704, 10, 1, 2},
              tpsw::Field{tpsw::kLong, "O:N", 714, 4}, tpsw::Field{tpsw::kTime, "O:AT", 718, 4}};
  t.memos = {tpsw::Memo{"O:NOTE"}};
  std::vector<std::uint8_t> bytes;
  tpsw::Writer w(&bytes, tpsw::Options{});
  w.AddTable(t);
  const int days[][3] = {{2020, 5, 5}, {999, 1, 1}, {1899, 12, 30}, {0, 0, 0}, {9999, 12, 31}};
  for (int i = 0; i < 40; ++i) {
    tpsw::Payload p(t.RecordLength());
    const int* d = days[i % 5];
    p.PutString(0, 700, std::string(std::size_t(i * 17 % 700), char('a' + i % 26)));
    if (d[0] != 0) p.PutDate(700, d[0], d[1], d[2]);
    p.PutDecimal(704, 10, 2, i % 3 == 0 ? "-1234567890123.45" : std::to_string(i) + ".5");
    p.PutLong(714, -i);
    // A time whose hours have their top bit set, an impossible one, an ordinary one.
    const std::uint8_t hours[] = {0x80 | 10, 25, 7};
    p.PutBytes(718, {5, 30, 15, hours[i % 3]});
    w.AddRow(1, i + 1, p, {{0, std::string(std::size_t(i * 31), 'm')}});
  }
  w.Finish();
  return bytes;
}

// The text of every table of the file in the given layout, each followed by its
// failure, if any.
std::string RenderFile(const std::vector<std::uint8_t>& bytes, bool lazy, bool split,
                       const TRunOptions& format, std::uint64_t maxBytes) {
  TMemoryStream stream(bytes);
  TClarionTPS reader;
  reader.ResetGrid();
  reader.KeepOpen = true;
  reader.LazyRows = lazy;
  reader.SplitArrayFields = split;
  reader.LoadFromStream(stream);
  std::string out;
  for (std::int32_t s = 0; s < reader.Sheets().Count(); ++s) {
    const auto& table = dynamic_cast<const TTPSClarionTable&>(reader.Sheets()[s]);
    out += RenderWith(table.Cells, TpsTableSchema(table), format, 1, {}, maxBytes) + "\n--\n";
  }
  return out;
}

}  // namespace

// Rows decoded on demand write their plain lines straight from their records; stored
// rows go through their cells. Both give the same text for every field type, memos and
// BLOBs, arrays split or kept as one text, short records, impossible dates and the
// values left to the general way, in either delimiter, and stop at the same line under
// a text limit.
TEST(WriteTableText, LinesFromRecordsEqualLinesFromCells) {
  TRunOptions plain;
  plain.Header = true;
  TRunOptions comma;
  comma.Delimiter = ",";
  comma.RecordSeparator = "\n";
  std::vector<std::vector<std::uint8_t>> files = {OddValuesFile()};
  for (std::uint64_t seed : {1u, 2u, 3u}) files.push_back(tpstest::MixedFile(seed));
  for (std::size_t f = 0; f < files.size(); ++f)
    for (bool split : {false, true})
      for (const TRunOptions* format : {&plain, &comma})
        for (std::uint64_t limit : {UINT64_MAX, std::uint64_t(3000)}) {
          SCOPED_TRACE("file " + std::to_string(f) + " split " + std::to_string(split) + " limit " +
                       std::to_string(limit));
          const std::string want = RenderFile(files[f], false, split, *format, limit);
          EXPECT_EQ(RenderFile(files[f], true, split, *format, limit), want);
          if (limit == UINT64_MAX) {
            EXPECT_GT(want.size(), 10000u);
          }
        }
}

// Blocks of rows whose text would take more than a few megabytes are written partly
// by the writing thread, row by row: the same bytes, with and without a row test, and
// the same failure at the same line.
TEST(WriteTableText, TwoThreadsWithRowsOfMegabytes) {
  TSpreadSheetCells cells;
  const std::int32_t rows = 3 * 8192 + 100;
  for (std::int32_t row = 0; row < rows; ++row) {
    cells.SetCell(0, row, Variant::Integer(row), taRightJustify, 0, ictInteger);
    // Every 40th row of the second and third blocks holds 50 KB: 10 MB per block.
    const bool big = row >= 8192 && row % 40 == 0;
    cells.SetCell(1, row, Variant::String(std::string(big ? 50000 : 5, char('a' + row % 26))),
                  taLeftJustify, 0, ictString);
  }
  const TTableSchema fields = TestSchema({{tpsLong, "ID", 4}, {tpsChar, "TEXT", 20}});
  TRunOptions format;
  const std::string one = RenderWith(cells, fields, format, 1);
  ASSERT_GT(one.size(), 20000000u);
  EXPECT_TRUE(RenderWith(cells, fields, format, 2) == one);
  const TRowTest test = [](std::int32_t row) {
    if (row == 2 * 8192 + 4000) throw Exception("stop");
    return row % 3 != 0;
  };
  const std::string tested = RenderWith(cells, fields, format, 1, test);
  EXPECT_NE(tested.find("\nfailed: stop"), std::string::npos);
  EXPECT_TRUE(RenderWith(cells, fields, format, 2, test) == tested);
  const std::uint64_t limit = one.size() - 75000;
  const std::string limited = RenderWith(cells, fields, format, 1, {}, limit);
  EXPECT_NE(limited.find("\nfailed: "), std::string::npos);
  EXPECT_TRUE(RenderWith(cells, fields, format, 2, {}, limit) == limited);
}

namespace {

TKvICellView CellOf(VarKind kind, std::int64_t i, double real, std::string_view text = {},
                    std::uint8_t packedDecimals = 0) {
  TKvICellView v;
  v.Kind = kind;
  v.Int = i;
  v.Real = real;
  v.Text = text;
  v.PackedDecimals = packedDecimals;
  return v;
}

// Appends the row of Cells (every column selected) through Layout.
bool LayoutRow(TTextLayout& layout, std::span<const TKvICellView> cells,
               const std::vector<std::int32_t>& columns, std::string& out,
               std::uint64_t limit = UINT64_MAX) {
  TRowView row;
  row.Reset(0, 1, cells, columns, nullptr);
  return layout.AppendRow(out, row, limit);
}

}  // namespace

// Plain delimited rows are written through a row buffer; a delimiter of two characters
// takes the general path. Both give the same text for cells of every kind and edge
// values, under either decimal separator, and the buffer stops at the text limit.
TEST(WriteTableText, RowBufferWritesWhatTheGeneralPathWrites) {
  const std::string longText(700, 'x'), longerText(5000, 'y');
  const std::string packed1("\x00\x12\x34\x56", 4), packed2("\xF0\x00\x05", 3), packed3(16, '\x99'),
      packed4(17, '\x11'), packed5("\x00\x00\x00\x01", 4), zero("\xF0\x00", 2);
  const std::int64_t date = TKvICellView::kCellDateParts | 2019 << 16 | 1 << 8 | 16;
  const std::int64_t time = TKvICellView::kCellTimeParts | 22 << 24 | 14 << 16 | 41 << 8;
  const std::vector<TKvICellView> values = {
      CellOf(VarKind::Empty, 0, 0),
      CellOf(VarKind::Null, 0, 0),
      CellOf(VarKind::Integer, 0, 0),
      CellOf(VarKind::Integer, INT64_MIN, 0),
      CellOf(VarKind::Integer, INT64_MAX, 0),
      CellOf(VarKind::Integer, -1234567890, 0),
      CellOf(VarKind::SmallInt, -32768, 0),
      CellOf(VarKind::Byte, 255, 0),
      CellOf(VarKind::Boolean, 1, 0),
      CellOf(VarKind::Currency, -69000, 0),
      CellOf(VarKind::Single, 0, 0.1f),
      CellOf(VarKind::Double, 0, 5275.25),
      CellOf(VarKind::Double, 0, -9718.15),
      CellOf(VarKind::Double, 0, -0.0),
      CellOf(VarKind::Double, 0, 4294967295.0),
      CellOf(VarKind::Double, 0, 1e15),
      CellOf(VarKind::Double, 0, 1.234e-5),
      CellOf(VarKind::Double, 0, 0.1 + 0.2),
      CellOf(VarKind::Double, 0, -2.2250738585072014e-308),
      CellOf(VarKind::Double, 0, 5e-324),
      CellOf(VarKind::Double, 0, std::numeric_limits<double>::infinity()),
      CellOf(VarKind::Double, 0, std::numeric_limits<double>::quiet_NaN()),
      CellOf(VarKind::Double, 0, 1234.56, packed1, 2),
      CellOf(VarKind::Double, 0, -0.05, packed2, 2),
      CellOf(VarKind::Double, 0, 9.99e30, packed3, 0),
      CellOf(VarKind::Double, 0, 1.1e32, packed4, 3),
      CellOf(VarKind::Double, 0, 1e-7, packed5, 7),
      CellOf(VarKind::Double, 0, 0, zero, 1),
      CellOf(VarKind::Date, date, 43481),
      CellOf(VarKind::Date, time, 0.926863425925926),
      CellOf(VarKind::Date, TKvICellView::kCellDateParts | 999 << 16 | 1 << 8 | 1, -328717),
      CellOf(VarKind::Date, 0, 43481.75),
      CellOf(VarKind::Date, 0, -3.25),
      CellOf(VarKind::String, 0, 0, ""),
      CellOf(VarKind::String, 0, 0, "Anna Jansen   "),
      CellOf(VarKind::String, 0, 0, "tab\tand\r\nline"),
      CellOf(VarKind::WideString, 0, 0, "wide"),
      CellOf(VarKind::String, 0, 0, longText),
      CellOf(VarKind::String, 0, 0, longerText),
  };
  const std::size_t width = 14;
  TTableSchema schema;
  for (std::size_t c = 0; c < width; ++c)
    schema.Columns.push_back(MakeTableColumn("C" + std::to_string(c), tpsChar, 10));
  std::vector<std::int32_t> columns(width);
  for (std::size_t c = 0; c < width; ++c) columns[c] = std::int32_t(c);
  const FormatSettings iso = FormatSettings::Iso();
  FormatSettings commaSettings = iso;
  commaSettings.DecimalSeparator = ',';
  const FormatSettings& comma = commaSettings;
  tpsw::Rng random{2026};
  for (const FormatSettings* settings : {&iso, &comma}) {
    TTableContext table;
    table.Schema = &schema;
    table.Columns = columns;
    table.Settings = settings;
    TRunOptions plainOptions, generalOptions;
    generalOptions.Delimiter = "\x01\x02";
    TTextLayout plain(plainOptions), general(generalOptions);
    plain.Begin(table);
    general.Begin(table);
    for (int k = 0; k < 400; ++k) {
      std::vector<TKvICellView> row(width);
      for (TKvICellView& cell : row)
        cell = values[k < int(values.size()) ? std::size_t(k) : random.Next() % values.size()];
      std::string got, want;
      ASSERT_TRUE(LayoutRow(plain, row, columns, got));
      ASSERT_TRUE(LayoutRow(general, row, columns, want));
      for (std::size_t at; (at = want.find("\x01\x02")) != std::string::npos;)
        want.replace(at, 2, "\t");
      ASSERT_EQ(got, want) << "row " << k;
      // A limit below the row's length before its record end stops the row with more
      // text than the limit.
      const std::uint64_t limit = random.Next() % (got.size() - 2);
      std::string cut = "abc";
      EXPECT_FALSE(LayoutRow(plain, row, columns, cut, limit + 3)) << "row " << k;
      EXPECT_GT(cut.size(), limit + 3);
      EXPECT_EQ(cut.compare(3, cut.size() - 3, got, 0, cut.size() - 3), 0);
    }
  }
}
