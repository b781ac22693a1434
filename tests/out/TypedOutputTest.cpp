// The pieces the typed outputs share: JSON texts, unique names, ISO dates and times,
// declared types, and the SQLite access through the library's function table.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "TestSupport.h"
#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
#include "out/JsonText.h"
#include "out/SqliteDb.h"
#include "out/TypedColumns.h"

namespace {

// The Windows tests run where no SQLite library may be found.
#define REQUIRE_SQLITE() \
  if (std::string why; SqliteLibrary(why) == nullptr) GTEST_SKIP() << why

TEST(JsonText, StringsEscapeQuotesBackslashesAndEveryControlCharacter) {
  const struct {
    std::string in, want;
  } cases[] = {
      {"", "\"\""},
      {"plain", "\"plain\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"C:\\dir", "\"C:\\\\dir\""},
      {"a\r\nb\tc", "\"a\\u000D\\u000Ab\\u0009c\""},
      {std::string("a\0b", 3), "\"a\\u0000b\""},
      {"\x1F\x7F", "\"\\u001F\x7F\""},
      {"caf\xC3\xA9", "\"caf\xC3\xA9\""},  // UTF-8 bytes pass through
  };
  for (const auto& c : cases) {
    std::string out = "[";
    AppendJsonString(out, c.in);
    EXPECT_EQ(out, "[" + c.want) << c.in;
  }
}

TEST(JsonText, NumbersAreTheShortestTextOfTheirOwnPrecisionAndNullWhenNotFinite) {
  const struct {
    double value;
    bool single;
    const char* want;
  } cases[] = {
      {-2.7f, true, "-2.7"},  // the float's digits, not the double's -2.700000047683716
      {-2.7f, false, "-2.700000047683716"},
      {0.1, false, "0.1"},
      {1e16, false, "1e+16"},
      {123456789.125, false, "123456789.125"},
      {-0.0, false, "-0"},
      {std::numeric_limits<double>::quiet_NaN(), false, "null"},
      {std::numeric_limits<double>::infinity(), true, "null"},
      {-std::numeric_limits<double>::infinity(), false, "null"},
  };
  for (const auto& c : cases) {
    std::string out;
    if (c.single)
      AppendJsonNumber(out, float(c.value));
    else
      AppendJsonNumber(out, c.value);
    EXPECT_EQ(out, c.want) << c.value;
    // A finite number reads back to the same value.
    if (std::isfinite(c.value)) {
      EXPECT_EQ(c.single ? double(float(std::stod(out))) : std::stod(out),
                c.single ? double(float(c.value)) : c.value);
    }
  }
  std::string out;
  AppendJsonInteger(out, -9223372036854775807LL - 1);
  EXPECT_EQ(out, "-9223372036854775808");
}

TEST(TypedColumns, LaterNamesEqualIgnoringCaseGetANumberNotTakenYet) {
  std::vector<std::string> names = {"ID", "Name", "id", "NAME", "Id", "id_2", "City"};
  EXPECT_EQ(MakeNamesUnique(names), 3u);
  EXPECT_EQ(names,
            (std::vector<std::string>{"ID", "Name", "id_3", "NAME_2", "Id_4", "id_2", "City"}));
  std::set<std::string> taken = {"orders_bynumber"};
  EXPECT_EQ(IndexName("ORDERS", "ORD:ByNumber", taken), "ORDERS_ByNumber_2");
  EXPECT_EQ(IndexName("ORDERS", "ORD:ByNumber", taken), "ORDERS_ByNumber_3");
  EXPECT_EQ(IndexName("UNNAMED", "KEYOUD", taken), "UNNAMED_KEYOUD");
}

TEST(SqliteDb, ValuesReadBackAsBoundEmptyTextIsNoNull) {
  REQUIRE_SQLITE();
  TempDir dir;
  TSqliteDatabase db(dir.File("t.db"));
  db.Exec("CREATE TABLE t(i INTEGER, r REAL, s TEXT, b BLOB, n TEXT)");
  {
    TSqliteStatement insert(db, "INSERT INTO t VALUES(?,?,?,?,?)");
    const std::string text("a\0b", 3), blob("\0\xFF\r\n", 4);
    insert.BindInteger(1, -9223372036854775807LL);
    insert.BindReal(2, 0.1);
    insert.BindText(3, text);
    insert.BindBlob(4, blob);
    insert.BindText(5, "");
    insert.Run();
  }
  EXPECT_EQ(db.QueryTexts("SELECT i || '|' || r || '|' || length(CAST(s AS BLOB)) || '|' || "
                          "hex(b) || '|' || typeof(n) || '|' || typeof(b) FROM t"),
            std::vector<std::string>{"-9223372036854775807|0.1|3|00FF0D0A|text|blob"});
  EXPECT_THROW(db.Exec("INSERT INTO missing VALUES(1)"), Exception);
  EXPECT_THROW(TSqliteStatement(db, "SELEKT 1"), Exception);
}

TEST(SqliteDb, AFileThatIsNoDatabaseFailsWithTheLibrarysMessage) {
  REQUIRE_SQLITE();
  TempDir dir;
  WriteFileText(dir.File("x.db"), std::string(600, 'x'));
  try {
    TSqliteDatabase db(dir.File("x.db"));
    db.Exec("CREATE TABLE t(a)");
    FAIL() << "no failure";
  } catch (const Exception& e) {
    EXPECT_NE(e.Message().find("not a database"), std::string::npos) << e.Message();
  }
}

}  // namespace
