#include <gtest/gtest.h>

#include <thread>

#include "TestSupport.h"
#include "cells/KvSettings.h"
#include "front/TextExport.h"
#include "tps/KvTPS.h"
#include "tpswriter/TpsDemo.h"

namespace {
const std::string kNul(1, '\0');
}

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
  EXPECT_EQ(std::string({TypeLetter(0), TypeLetter(1), TypeLetter(2), TypeLetter(3), TypeLetter(4),
                         TypeLetter(5), TypeLetter(6), TypeLetter(7), TypeLetter(8), TypeLetter(9),
                         TypeLetter(10), TypeLetter(11), TypeLetter(12), TypeLetter(13),
                         TypeLetter(14), TypeLetter(15), TypeLetter(16), TypeLetter(17)}),
            "UBSUDTLUFDDCVMGBMS");
  EXPECT_EQ(TypeLetter(200), 'U');
  EXPECT_EQ(FieldWidth({1, "B", 1}), 3);
  EXPECT_EQ(FieldWidth({2, "S", 2}), 5);
  EXPECT_EQ(FieldWidth({3, "U", 2}), 5);
  EXPECT_EQ(FieldWidth({6, "ID", 4}), 8);
  EXPECT_EQ(FieldWidth({7, "U", 4}), 8);
  EXPECT_EQ(FieldWidth({8, "F", 4}), 15);
  EXPECT_EQ(FieldWidth({9, "D", 8}), 15);
  EXPECT_EQ(FieldWidth({10, "D", 6}), 15);
  EXPECT_EQ(FieldWidth({11, "NAME", 20}), 20);
  EXPECT_EQ(FieldWidth({4, "D", 4}), 4);
  EXPECT_EQ(FieldWidth({6, "A_VERY_LONG_NAME", 4}), 16);
  EXPECT_EQ(FieldWidth({14, "GRP", 0}), 3);
  for (int c = 0; c < 18; ++c) {
    EXPECT_EQ(IsGroupLike(std::uint8_t(c)), c == 0 || c == 14 || c == 17) << c;
    EXPECT_EQ(IsNumericType(std::uint8_t(c)), (c >= 1 && c <= 3) || (c >= 6 && c <= 10)) << c;
  }
}

TEST(TextExportHelpers, FieldSelection) {
  const std::vector<TExportField> fields = {
      {6, "ID", 4}, {14, "ADDRESS", 30}, {11, "Street", 20}, {11, "NAME", 20}};
  auto names = [&](const TExportFormat& f) {
    std::string s;
    for (const auto& c : SelectFields(fields, f))
      s += std::to_string(c.Column) + c.Field->Name + ";";
    return s;
  };
  TExportFormat f;
  EXPECT_EQ(names(f), "0ID;1ADDRESS;2Street;3NAME;");
  f.SkipGroups = true;
  EXPECT_EQ(names(f), "0ID;2Street;3NAME;");
  f.SkipGroups = false;
  // Table order is kept whatever the order of the list.
  f.Fields = "name;street;";
  EXPECT_EQ(names(f), "2Street;3NAME;");
  // Whole names only: "me" does not select NAME.
  f.Fields = "me;i;";
  EXPECT_EQ(names(f), "");
  f.Fields = "address;";
  f.SkipGroups = true;
  EXPECT_EQ(names(f), "");
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

// Writes a sheet with the given fields through the writer and returns the file's bytes.
std::string Render(const TSpreadSheetCells& cells, const std::vector<TExportField>& fields,
                   const TExportFormat& format, const TRowTest& rowTest = {}) {
  TempDir dir;
  const std::string path = dir.File("out.txt");
  TBufferedFileWriter out(path, 64);  // a small buffer: lines cross buffer boundaries
  WriteTableText(out, cells, fields, format, FormatSettings::Iso(), rowTest);
  out.Close();
  return ReadFileText(path);
}

}  // namespace

TEST(WriteTableText, DelimitedFixedAndHeaderLines) {
  const std::vector<TExportField> fields = {{6, "ID", 4}, {11, "NAME", 20}};
  TSpreadSheetCells cells;
  cells.SetCell(0, 0, Variant::Integer(7), taRightJustify, 0, ictInteger);
  cells.SetCell(1, 0, Variant::String("Smith"), taLeftJustify, 0, ictString);
  cells.SetCell(0, 1, Variant::Integer(-12), taRightJustify, 0, ictInteger);

  TExportFormat f;
  f.Header = true;
  EXPECT_EQ(Render(cells, fields, f), "ID\tNAME\r\n7\tSmith\r\n-12\t\r\n");

  f.Fixed = true;
  f.Delimiter = kNul;
  EXPECT_EQ(Render(cells, fields, f),
            "ID      NAME                \r\n"
            "       7Smith               \r\n"
            "     -12                    \r\n");

  // Fixed keeps the default TAB delimiter; the type line is padded like the header.
  TExportFormat g;
  g.Fixed = true;
  g.TypeLine = true;
  g.RecordSeparator = "\n";
  EXPECT_EQ(Render(cells, fields, g),
            "L       \tC                   \n"
            "       7\tSmith               \n"
            "     -12\t                    \n");

  // Header and type line without Fixed; an empty delimiter joins the values.
  TExportFormat h;
  h.Header = h.TypeLine = true;
  h.Delimiter = "";
  h.RecordSeparator = "\r";
  EXPECT_EQ(Render(cells, fields, h), "IDNAME\rLC\r7Smith\r-12\r");
}

TEST(WriteTableText, QualifierEmptyValuesAndFieldList) {
  const std::vector<TExportField> fields = {{6, "ID", 4}, {11, "NAME", 20}, {11, "CITY", 10}};
  TSpreadSheetCells cells;
  cells.SetCell(0, 0, Variant::Integer(1), taRightJustify, 0, ictInteger);
  cells.SetCell(1, 0, Variant::String("say \"hi\""), taLeftJustify, 0, ictString);
  cells.SetCell(2, 0, Variant::String("Rome"), taLeftJustify, 0, ictString);
  cells.SetCell(2, 1, Variant::String("Oslo"), taLeftJustify, 0, ictString);

  TExportFormat f;
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
  const std::vector<TExportField> fields = {{6, "ID", 4}, {14, "ADDRESS", 40}, {11, "STREET", 30}};
  TSpreadSheetCells cells;
  for (int r = 0; r < 3; ++r) {
    cells.SetCell(0, r, Variant::Integer(r + 1), taRightJustify, 0, ictInteger);
    cells.SetCell(2, r, Variant::String("S" + std::to_string(r)), taLeftJustify, 0, ictString);
  }
  TExportFormat f;
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
  const std::vector<TExportField> fields = {
      {4, "D", 4}, {5, "T", 4}, {10, "DEC", 6}, {9, "DBL", 8}, {16, "MEMO", 0}};
  TSpreadSheetCells cells;
  cells.SetCell(0, 0, Variant::Date(36526), taLeftJustify, 0, ictDate);  // 2000-01-01
  cells.SetCell(1, 0, Variant::Date(13.0 / 24 + 5.0 / 1440), taLeftJustify, 0, ictTime);
  cells.SetCell(2, 0, Variant::CurrencyScaled(-69000), taRightJustify, 0, ictDecimal);
  cells.SetCell(3, 0, Variant::Double(0.5), taRightJustify, 0, ictDecimal);
  cells.SetCell(4, 0, Variant::String("line1\r\nline2"), taLeftJustify, 0, ictMemo);
  TExportFormat f;
  EXPECT_EQ(Render(cells, fields, f), "2000-01-01\t13:05:00\t-6.9\t0.5\tline1\r\nline2\r\n");
}

namespace {

// The fields of a loaded table as the writer takes them.
std::vector<TExportField> ExportFieldsOf(const TTPSClarionTable& t) {
  std::vector<TExportField> out;
  for (std::size_t j = 0; j < t.FieldCount && j < t.Fields.size(); ++j)
    out.push_back({t.Fields[j].Type, t.Fields[j].Name, t.Fields[j].Length});
  return out;
}

// Writes the sheet with the given number of threads; the failure message, if any,
// follows the file's bytes.
std::string RenderWith(const TSpreadSheetCells& cells, const std::vector<TExportField>& fields,
                       TExportFormat format, unsigned threads, const TRowTest& rowTest = {}) {
  format.Threads = threads;
  TempDir dir;
  const std::string path = dir.File("out.txt");
  std::string failure;
  {
    TBufferedFileWriter out(path);
    try {
      WriteTableText(out, cells, fields, format, FormatSettings::Iso(), rowTest);
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
    const std::vector<TExportField> fields = ExportFieldsOf(table);

    TExportFormat plain;
    plain.Header = true;
    TExportFormat fixed;
    fixed.Fixed = true;
    fixed.TypeLine = true;
    fixed.Fields = "id;note;date;amount;";
    TExportFormat quoted;
    quoted.Delimiter = ", ";
    quoted.Qualifier = "\"";
    quoted.RecordSeparator = "\n";
    // Stored rows are only read: the plain layout is enough for them.
    for (const TExportFormat& format :
         lazy ? std::vector<TExportFormat>{plain, fixed, quoted} : std::vector{plain}) {
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
      TExportFormat limited = plain;
      limited.MaxBytes = limit;
      const std::string one = RenderWith(table.Cells, fields, limited, 1);
      EXPECT_NE(one.find("\nfailed: " + std::string(kTextLimitMessage)), std::string::npos);
      EXPECT_LE(one.find("\nfailed"), limit);
      EXPECT_TRUE(RenderWith(table.Cells, fields, limited, 2) == one);
      // The same limit on the rows of a row test.
      const TRowTest odd = [](std::int32_t row) { return row % 2 == 1; };
      const std::string tested = RenderWith(table.Cells, fields, limited, 1, odd);
      if (limit == 5000) {
        EXPECT_NE(tested.find("\nfailed"), std::string::npos);
      }
      EXPECT_TRUE(RenderWith(table.Cells, fields, limited, 2, odd) == tested);
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
  const std::vector<TExportField> fields = {{6, "ID", 4}, {18, "TEXT", 20}};
  TExportFormat format;
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
  format.MaxBytes = one.size() - 75000;
  const std::string limited = RenderWith(cells, fields, format, 1);
  EXPECT_NE(limited.find("\nfailed: "), std::string::npos);
  EXPECT_TRUE(RenderWith(cells, fields, format, 2) == limited);
}
