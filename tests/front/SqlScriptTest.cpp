#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "front/SqlNames.h"
#include "front/SqlScript.h"
#include "tps/KvTPSFields.h"

namespace {

TKvICellView IntCell(std::int64_t v) {
  TKvICellView c;
  c.Kind = VarKind::Integer;
  c.Int = v;
  return c;
}
TKvICellView RealCell(VarKind kind, double v) {
  TKvICellView c;
  c.Kind = kind;
  c.Real = v;
  return c;
}
TKvICellView TextCell(std::string_view text) {
  TKvICellView c;
  c.Kind = VarKind::String;
  c.Text = text;
  return c;
}
TKvICellView PackedCell(std::string_view bytes, std::uint8_t decimals) {
  TKvICellView c = RealCell(VarKind::Double, 1);  // the Double is not what is written
  c.Text = bytes;
  c.PackedDecimals = decimals;
  return c;
}

struct TValueCase {
  const char* what;
  TSqlColumn column;  // Cells are filled in by the test: 0, 1, ...
  std::vector<TKvICellView> cells;
  std::string pgType;
  std::string copied;  // the field as COPY reads it
};

TSqlColumn Column(std::uint8_t type, std::uint16_t size = 4, std::uint8_t decimals = 0,
                  bool array = false, bool trim = false) {
  TSqlColumn c;
  c.Name = "c";
  c.Type = type;
  c.Size = size;
  c.Decimals = decimals;
  c.Array = array;
  c.TrimBlanks = trim;
  return c;
}

const TKvICellView kNone{};  // Kind Empty: no cell

}  // namespace

TEST(SqlScriptValues, EachTypeAsCopyReadsIt) {
  const TValueCase cases[] = {
      {"SHORT", Column(tpsShort, 2), {IntCell(-32768)}, "smallint", "-32768"},
      {"ULONG above 2^31",
       Column(tpsULong),
       {RealCell(VarKind::Double, 4294967295.0)},
       "bigint",
       "4294967295"},
      {"SREAL shortest",
       Column(tpsFloat),
       {RealCell(VarKind::Single, double(-2.7f))},
       "real",
       "-2.7"},
      {"REAL NaN",
       Column(tpsDouble, 8),
       {RealCell(VarKind::Double, std::nan(""))},
       "double precision",
       "NaN"},
      {"REAL -infinity",
       Column(tpsDouble, 8),
       {RealCell(VarKind::Double, -std::numeric_limits<double>::infinity())},
       "double precision",
       "-Infinity"},
      {"DECIMAL of 19 digits",
       Column(tpsDecimal, 10, 2),
       {PackedCell("\xF1\x23\x45\x67\x89\x01\x23\x45\x67\x89", 2)},
       "numeric(19,2)",
       "-12345678901234567.89"},
      {"DECIMAL all decimals",
       Column(tpsDecimal, 4, 2),
       {PackedCell(std::string_view("\x00\x00\x69\x00", 4), 2)},
       "numeric(7,2)",
       "69.00"},
      {"DATE", Column(tpsDate), {RealCell(VarKind::Date, 36526)}, "date", "2000-01-01"},
      {"zero DATE", Column(tpsDate), {TextCell("")}, "date", "\\N"},
      {"TIME with hundredths",
       Column(tpsTime),
       {RealCell(VarKind::Date, (6 * 3600 + 23 * 60 + 15.47) / 86400)},
       "time(2)",
       "06:23:15.47"},
      {"STRING trimmed, escaped, decoded",
       Column(tpsChar, 12, 0, false, true),
       {TextCell(std::string_view("a\tb\\c\r\n\x80  \0\0", 13))},
       "text",
       "a\\tb\\\\c\\r\\n\xE2\x82\xAC"},
      {"STRING kept with /TRIM=0", Column(tpsChar, 4), {TextCell("ab  ")}, "text", "ab  "},
      {"NUL inside a text",
       Column(tpsVarChar, 8),
       {TextCell(std::string_view("a\0b", 3))},
       "text",
       "a\xEF\xBF\xBD"
       "b"},
      {"MEMO keeps blanks, loses end NULs",
       Column(tpsMEMO, 0),
       {TextCell(std::string_view("x \0", 3))},
       "text",
       "x "},
      {"no MEMO", Column(tpsMEMO, 0), {kNone}, "text", "\\N"},
      {"BLOB", Column(tpsBLOB, 0), {TextCell("BM\x01\xff")}, "bytea", "\\\\x424d01ff"},
      {"LONG array",
       Column(tpsLong, 4, 0, true),
       {IntCell(1), kNone, IntCell(-3)},
       "integer[]",
       "{1,NULL,-3}"},
      {"STRING array quoted",
       Column(tpsChar, 6, 0, true, true),
       {TextCell("a\"b   "), TextCell("c\\d,e ")},
       "text[]",
       "{\"a\\\\\"b\",\"c\\\\\\\\d,e\"}"},
  };
  for (const TValueCase& c : cases) {
    SCOPED_TRACE(c.what);
    TSqlTable table;
    table.Name = "t";
    table.Columns = {c.column, Column(tpsByte, 1)};
    std::vector<const TKvICellView*> cells;
    for (std::size_t k = 0; k < c.cells.size(); ++k) {
      table.Columns[0].Cells.push_back(std::int32_t(k));
      cells.push_back(c.cells[k].Kind == VarKind::Empty ? nullptr : &c.cells[k]);
    }
    // A second column after it: a byte, with no cell beyond the row's cells.
    table.Columns[1].Cells = {std::int32_t(c.cells.size())};
    TSqlRowWriter writer(table, TKvCodePage::Get(1252));
    std::string line;
    writer.AppendRow(line, cells);
    EXPECT_EQ(line, c.copied + "\t\\N\n");
    EXPECT_EQ(PgTypeName(c.column), c.pgType);
    EXPECT_EQ(writer.NulsReplaced(), std::string_view(c.what) == "NUL inside a text" ? 1 : 0);
  }
}

TEST(SqlScriptNames, UniqueCutAndQuoted) {
  std::vector<std::string> names{"Name", "NAME", "name_2", "x", "name"};
  EXPECT_EQ(MakeNamesUnique(names, kPgNameBytes), 2u);
  EXPECT_EQ(names, (std::vector<std::string>{"Name", "NAME_3", "name_2", "x", "name_4"}));

  // 62 ASCII bytes and a two-byte letter: cut before the letter, not inside it.
  const std::string longName = std::string(62, 'a') + "\xC3\xA9" + "zz";
  EXPECT_EQ(CutName(longName, kPgNameBytes), std::string(62, 'a'));
  std::vector<std::string> two{longName, longName + "b"};
  MakeNamesUnique(two, kPgNameBytes);
  EXPECT_EQ(two[1], std::string(61, 'a') + "_2");

  std::set<std::string> taken{"orders"};
  EXPECT_EQ(IndexName("ORDERS", "ORD:BYDATE", taken, kPgNameBytes), "ORDERS_BYDATE");
  EXPECT_EQ(IndexName("ORDERS", "BYDATE", taken, kPgNameBytes), "ORDERS_BYDATE_2");
  EXPECT_EQ(TakeUniqueName("Orders", taken, kPgNameBytes), "Orders_2");

  EXPECT_EQ(DatabaseTableName("UNNAMED", "/data/Products.tps"), "Products");
  EXPECT_EQ(DatabaseTableName("", "Stock.v2.TPS"), "Stock.v2");
  EXPECT_EQ(DatabaseTableName("ORDERS", "/data/Products.tps"), "ORDERS");
  EXPECT_EQ(QuotePgName("a\"b"), "\"a\"\"b\"");
}
