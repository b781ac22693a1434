// JSON Lines and SQLite from rows handed over as the row walk hands them: every kind of
// column, an array, a group, a repeated name and keys, written the same way by both.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "cells/KvConvert.h"
#include "front/TypedOutputs.h"

namespace {

TTableColumn Column(std::string name, TTPSTypeCode type, std::uint16_t size,
                    std::uint16_t elements = 0) {
  TTableColumn c;
  c.Name = std::move(name);
  c.Type = type;
  c.Size = size;
  c.Elements = elements;
  return c;
}

// Columns: ID (Long), NAME (String 8), the group ADDR over CITY (CString), PRICE (Decimal
// 4 bytes, 2 decimals), BIG (Decimal 9 bytes: 17 digits), RATE (SReal), BORN (Date),
// AT (Time), an array QTY of 3 Shorts split into its elements, id (a Long whose name
// repeats ID), NOTES (Memo), PIC (Blob). Keys: by NAME descending then ID; by CITY; by
// QTY (an array: no index).
TTableSchema Schema() {
  TTableSchema s;
  s.Name = "SHOP";
  s.Number = 3;
  auto decimal = [](std::string name, std::uint16_t size, std::uint8_t decimals) {
    TTableColumn c = Column(std::move(name), tpsDecimal, size);
    c.Digits = std::uint8_t(2 * size - 1);
    c.Decimals = decimals;
    return c;
  };
  s.Columns = {
      Column("ID", tpsLong, 4),      Column("NAME", tpsChar, 8),   Column("ADDR", tpsGroup, 8),
      Column("CITY", tpsVarChar, 8), decimal("PRICE", 4, 2),       decimal("BIG", 9, 3),
      Column("RATE", tpsFloat, 4),   Column("BORN", tpsDate, 4),   Column("AT", tpsTime, 4),
      Column("QTY", tpsGroup, 0, 3), Column("QTY_1", tpsShort, 2), Column("QTY_2", tpsShort, 2),
      Column("QTY_3", tpsShort, 2),  Column("id", tpsLong, 4),     Column("NOTES", tpsMEMO, 0),
      Column("PIC", tpsBLOB, 0)};
  s.Keys = {TTableKey{"SHP:ByName", 0, {{1, true, 1}, {0, false, 0}}},
            TTableKey{"SHP:ByCity", 0, {{3, false, 0}}}, TTableKey{"SHP:ByQty", 0, {{9, false, 0}}},
            TTableKey{"SHP:Empty", 0, {}}};
  return s;
}

TKvICellView Cell(VarKind kind, std::int64_t i = 0, double real = 0, std::string_view text = {}) {
  TKvICellView v;
  v.Kind = kind;
  v.Int = i;
  v.Real = real;
  v.Text = text;
  return v;
}

struct TRow {
  std::vector<TKvICellView> Cells;
  std::vector<std::int32_t> Columns;
  TRowView View;
};

// Row 0: every value; row 1: what a row without values gives.
const std::string kName("Caf\xE9  \0", 8), kCity("Oslo"), kNotes("a\r\n\"b\"\t"),
    kPic("BM\0\xFF", 4);
// -12345678901234.567 as stored: the sign in the first half byte, then 17 digits.
const std::string kBig("\xB1\x23\x45\x67\x89\x01\x23\x45\x67", 9);
TRow MakeRow(int which, const std::vector<std::int32_t>& columns) {
  TRow r;
  if (which == 0) {
    r.Cells = {Cell(VarKind::Integer, 7),
               Cell(VarKind::String, 0, 0, kName),
               Cell(VarKind::Empty),
               Cell(VarKind::String, 0, 0, kCity),
               Cell(VarKind::Double, 0, -12.5),
               Cell(VarKind::Double, 0, -12345678901234.567, kBig),
               Cell(VarKind::Single, 0, double(-2.7f)),
               Cell(VarKind::Date, 0, EncodeDate(2019, 8, 22)),
               Cell(VarKind::Date, 0, EncodeTime(12, 59, 59, 990)),
               Cell(VarKind::Empty),
               Cell(VarKind::SmallInt, 1),
               Cell(VarKind::SmallInt, -2),
               Cell(VarKind::SmallInt, 3),
               Cell(VarKind::Integer, 8),
               Cell(VarKind::String, 0, 0, kNotes),
               Cell(VarKind::String, 0, 0, kPic)};
  } else {
    // A zero date and time are empty texts; no memo, no BLOB.
    r.Cells = {Cell(VarKind::Integer, 9),      Cell(VarKind::String, 0, 0, ""),
               Cell(VarKind::Empty),           Cell(VarKind::String, 0, 0, ""),
               Cell(VarKind::Double, 0),       Cell(VarKind::Double, 0, -0.0),
               Cell(VarKind::Single, 0),       Cell(VarKind::String, 0, 0, ""),
               Cell(VarKind::String, 0, 0, "")};
  }
  if (which == 0) r.Cells[5].PackedDecimals = 3;
  r.Columns = columns;
  r.View.Reset(which, which + 1, r.Cells, r.Columns, nullptr);
  return r;
}

// A table of Schema with every column selected.
struct TEveryColumn {
  explicit TEveryColumn(const TTableSchema& schema) {
    for (std::size_t i = 0; i < schema.Columns.size(); ++i) all.push_back(std::int32_t(i));
    context.Schema = &schema;
    context.Columns = all;
  }
  TEveryColumn(const TEveryColumn&) = delete;  // the context's columns are its own
  TEveryColumn& operator=(const TEveryColumn&) = delete;
  std::vector<std::int32_t> all;
  TTableContext context;
};

TEST(TypedOutputs, JsonLinesAndSqliteWriteTheSameTypedValues) {
  const TTableSchema schema = Schema();
  TEveryColumn every(schema);
  const std::vector<std::int32_t>& all = every.all;
  TTableContext& context = every.context;
  TTypedOptions options;
  options.SourceStem = "shop";

  TJsonLinesFormat json(options);
  json.Begin(context);
  std::string out;
  for (int which : {0, 1}) {
    TRow row = MakeRow(which, all);
    ASSERT_TRUE(json.AppendRow(out, row.View, UINT64_MAX));
  }
  EXPECT_EQ(out,
            "{\"ID\":7,\"NAME\":\"Caf\xC3\xA9\",\"CITY\":\"Oslo\",\"PRICE\":-12.50,"
            "\"BIG\":-12345678901234.567,\"RATE\":-2.7,\"BORN\":\"2019-08-22\","
            "\"AT\":\"12:59:59.99\",\"QTY\":[1,-2,3],\"id_2\":8,"
            "\"NOTES\":\"a\\u000D\\u000A\\\"b\\\"\\u0009\",\"PIC\":\"Qk0A/w==\"}\n"
            "{\"ID\":9,\"NAME\":\"\",\"CITY\":\"\",\"PRICE\":0.00,\"BIG\":0.000,\"RATE\":0,"
            "\"BORN\":null,\"AT\":null,\"QTY\":[null,null,null],\"id_2\":null,"
            "\"NOTES\":null,\"PIC\":null}\n");
  TWarningTally tally;
  json.TallyWarnings(tally);
  EXPECT_EQ(tally.Counts.size(), 1u);  // the repeated name

  if (std::string why; SqliteLibrary(why) == nullptr) GTEST_SKIP() << why;
  TempDir dir;
  // A table of the database already has the name an index would get.
  TSqliteDatabase(dir.File("t.db")).Exec("CREATE TABLE SHOP_ByCity(x)");
  {
    TSqliteSink sink(dir.File("t.db"), options);
    sink.BeginTable(context);
    for (int which : {0, 1}) {
      TRow row = MakeRow(which, all);
      sink.Row(row.View);
    }
    sink.EndTable();
  }
  TSqliteDatabase db(dir.File("t.db"));
  EXPECT_EQ(db.QueryTexts("SELECT group_concat(name || ' ' || type, ', ') FROM "
                          "pragma_table_info('SHOP')"),
            std::vector<std::string>{
                "ID INTEGER, NAME TEXT, CITY TEXT, PRICE DECIMAL(7,2), BIG TEXT, RATE REAL, "
                "BORN TEXT, AT TEXT, QTY TEXT, id_2 INTEGER, NOTES TEXT, PIC BLOB"});
  EXPECT_EQ(db.QueryTexts("SELECT quote(ID) || ' ' || quote(NAME) || ' ' || quote(CITY) || ' ' "
                          "|| quote(PRICE) || ' ' || quote(BIG) || ' ' || quote(RATE) || ' ' || "
                          "quote(BORN) || ' ' || quote(AT) || ' ' || quote(QTY) || ' ' || "
                          "quote(id_2) || ' ' || quote(NOTES) || ' ' || quote(PIC) FROM SHOP "
                          "ORDER BY rowid"),
            (std::vector<std::string>{
                "7 'Caf\xC3\xA9' 'Oslo' -12.5 '-12345678901234.567' -2.7 "
                "'2019-08-22' '12:59:59.99' '[1,-2,3]' 8 'a\r\n\"b\"\t' X'424D00FF'",
                "9 '' '' 0 '0.000' 0.0 NULL NULL '[null,null,null]' NULL NULL NULL"}));
  // One index per key whose columns are all written, in component order.
  EXPECT_EQ(db.QueryTexts("SELECT name || ': ' || sql FROM sqlite_master WHERE type = 'index' "
                          "ORDER BY name"),
            (std::vector<std::string>{
                "SHOP_ByCity_2: CREATE INDEX \"SHOP_ByCity_2\" ON \"SHOP\" (\"CITY\")",
                "SHOP_ByName: CREATE INDEX \"SHOP_ByName\" ON \"SHOP\" (\"NAME\" DESC, \"ID\")"}));
  // A database made before keeps its page size; a new one gets the large pages.
  EXPECT_EQ(db.QueryTexts("PRAGMA page_size"), std::vector<std::string>{"4096"});
}

TEST(TypedOutputs, ATableNotEndedLeavesTheDatabaseAsItWas) {
  if (std::string why; SqliteLibrary(why) == nullptr) GTEST_SKIP() << why;
  const TTableSchema schema = Schema();
  TEveryColumn every(schema);
  const std::vector<std::int32_t>& all = every.all;
  TTableContext& context = every.context;
  TTypedOptions options;
  TempDir dir;
  auto write = [&](int rows, bool end) {
    TSqliteSink sink(dir.File("t.db"), options);
    sink.BeginTable(context);
    for (int k = 0; k < rows; ++k) {
      TRow row = MakeRow(k % 2, all);
      sink.Row(row.View);
    }
    if (end) sink.EndTable();
  };
  write(2, true);
  write(5, false);  // a failure before the table's end
  TSqliteDatabase db(dir.File("t.db"));
  EXPECT_EQ(db.QueryTexts("SELECT count(*) FROM SHOP"), std::vector<std::string>{"2"});
  write(3, true);  // replaced
  EXPECT_EQ(db.QueryTexts("SELECT count(*) FROM SHOP"), std::vector<std::string>{"3"});
  EXPECT_EQ(db.QueryTexts("SELECT count(*) FROM sqlite_master"), std::vector<std::string>{"3"});
  EXPECT_EQ(db.QueryTexts("PRAGMA page_size"), std::vector<std::string>{"65536"});
  // Rows over several batches of the inserting thread (a batch is about 131,000 values),
  // the last one partly filled: all of them, in order (rows alternate between ID 7 and 9).
  write(40001, true);
  EXPECT_EQ(db.QueryTexts("SELECT count(*) || ' ' || sum((rowid % 2 = 1) != (ID = 7)) FROM SHOP"),
            std::vector<std::string>{"40001 0"});
}

// A JSON line is put together in a buffer of its own: rows longer than it, a key longer
// than it, a row that ends at its very end, and a row that could not be read give the
// same lines, and the text limit holds to the byte.
TEST(TypedOutputs, JsonLinesOfEveryLengthAndRowsThatFailed) {
  TTableSchema schema;
  schema.Name = "WIDE";
  const std::string longName(1100, 'K');
  schema.Columns.push_back(Column(longName, tpsLong, 4));
  for (int k = 0; k < 40; ++k)
    schema.Columns.push_back(Column("C" + std::to_string(k), tpsChar, 64));
  schema.Columns.push_back(Column("LAST", tpsChar, 1200));
  TEveryColumn every(schema);
  const std::vector<std::int32_t>& all = every.all;
  TTableContext& context = every.context;
  TTypedOptions options;
  options.SourceStem = "wide";
  TJsonLinesFormat json(options);
  json.Begin(context);

  // Texts of Shift + k letters padded to 64 bytes, and a last one of every length up to
  // more than the buffer holds: every place of a row's end in the buffer.
  for (int row = 0; row < 3 * 1200; ++row) {
    const int shift = row / 1200;
    const std::string last(std::size_t(row % 1200), 'z');
    std::vector<std::string> texts;
    std::vector<TKvICellView> cells = {Cell(VarKind::Integer, shift)};
    std::string want = "{\"" + longName + "\":" + std::to_string(shift);
    for (int k = 0; k < 40; ++k) {
      const std::string text(std::size_t((shift + k) % 64), char('a' + k % 26));
      texts.push_back(text + std::string(64 - text.size(), ' '));
      want += ",\"C" + std::to_string(k) + "\":\"" + text + "\"";
    }
    want += ",\"LAST\":\"" + last + "\"}\n";
    for (int k = 0; k < 40; ++k)
      cells.push_back(Cell(VarKind::String, 0, 0, texts[std::size_t(k)]));
    cells.push_back(Cell(VarKind::String, 0, 0, last));
    TRowView view;
    view.Reset(row, row + 1, cells, all, nullptr);
    std::string out = "x";
    ASSERT_TRUE(json.AppendRow(out, view, want.size() + 1));
    ASSERT_EQ(out, "x" + want) << row;
    out = "x";
    EXPECT_FALSE(json.AppendRow(out, view, want.size()));
  }
  // A row that could not be read: null everywhere.
  std::vector<TKvICellView> none;
  TRowView failed;
  failed.Reset(0, 1, none, all, std::make_exception_ptr(std::runtime_error("unreadable")));
  std::string out;
  ASSERT_TRUE(json.AppendRow(out, failed, UINT64_MAX));
  std::string want = "{\"" + longName + "\":null";
  for (int k = 0; k < 40; ++k) want += ",\"C" + std::to_string(k) + "\":null";
  EXPECT_EQ(out, want + ",\"LAST\":null}\n");
}

}  // namespace
