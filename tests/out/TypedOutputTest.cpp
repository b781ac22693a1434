// The pieces the typed outputs share: JSON texts, unique names, ISO dates and times,
// declared types, and the SQLite access through the library's function table.
#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "cells/KvBinaryText.h"
#include "cells/KvCodePage.h"
#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
#include "out/JsonText.h"
#include "out/SqliteDb.h"
#include "out/TypedColumns.h"
#include "out/TypedValues.h"

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

// The direct writer takes exactly the texts that need no escape, whatever their length
// and wherever the one byte that needs one lies, and writes what AppendJsonString does.
TEST(JsonText, PlainStringsWrittenDirectlyAsAppended) {
  for (std::size_t n = 0; n <= 20; ++n)
    for (std::size_t at = 0; at <= n; ++at)
      for (const char odd : {'\x00', '\x1F', '"', '\\', '\x7F', '\x80', '\xFF'}) {
        std::string text(n, 'a');
        if (at < n) text[at] = odd;  // at == n: all plain
        const bool plain = at == n || odd == '\x7F';
        char buffer[64];
        char* end = WriteJsonPlainString(buffer, buffer + sizeof buffer, text);
        ASSERT_EQ(end != nullptr, plain) << n << " " << at << " " << int(odd);
        if (!end) continue;
        std::string want;
        AppendJsonString(want, text);
        ASSERT_EQ(std::string(buffer, end), want);
      }
}

// The one-pass form from a code page's bytes against escaping their UTF-8 form: every
// byte alone and at each place of long texts (the eight-byte scan), in real code pages
// and in one that maps high bytes to a quote and a control character.
TEST(JsonText, StringsFromACodePageEqualTheirUtf8FormEscaped) {
  std::array<char32_t, 256> odd{};
  for (std::size_t b = 0; b < odd.size(); ++b) odd[b] = char32_t(b);
  odd[0x80] = U'"';
  odd[0x81] = U'\x01';
  const TKvCodePage custom(1252, odd);
  std::vector<std::string> texts;
  const std::string plain = "The quick brown fox jumps over the lazy dog";
  for (int b = 0; b < 256; ++b) {
    texts.push_back(std::string(1, char(b)));
    std::string t = plain;
    t[std::size_t(b) % t.size()] = char(b);
    texts.push_back(t);
  }
  for (const TKvCodePage* page :
       {&TKvCodePage::Get(1252), &TKvCodePage::Get(437), &TKvCodePage::Get(866), &custom}) {
    for (const std::string& t : texts) {
      std::string utf8, want, got;
      std::int64_t invalid = 0;
      page->AppendUtf8(utf8, t, invalid);
      AppendJsonString(want, utf8);
      AppendJsonString(got, *page, t);
      ASSERT_EQ(got, want) << page->Number() << " " << t;
    }
  }
}

// Padding (blanks of STRING fields with trimming, NUL bytes always) comes off the end
// of a text however long it runs and however the two are mixed; what lies before it stays.
TEST(TypedReader, TextsLoseTheirPaddingOnly) {
  const std::string nul(1, '\0');
  const struct {
    std::string text;
    TTypedKind kind;
    bool trim;
    const char* want;
  } cases[] = {
      {"Anna" + std::string(27, ' '), TTypedKind::String, true, "\"Anna\""},
      {"Anna" + std::string(27, ' '), TTypedKind::String, false,
       "\"Anna                           \""},
      {"Anna" + std::string(27, ' '), TTypedKind::Text, true,
       "\"Anna                           \""},
      {"12345678" + std::string(8, ' ') + nul + "  " + nul + std::string(13, ' '),
       TTypedKind::String, true, "\"12345678\""},
      {"a b" + std::string(5, ' ') + nul + std::string(16, '\0'), TTypedKind::Text, true,
       "\"a b     \""},
      {"x" + nul + "y" + std::string(16, '\0'), TTypedKind::Memo, true, "\"x\\u0000y\""},
      {std::string(24, ' '), TTypedKind::String, true, "\"\""},
      {"tail!" + std::string(3, ' '), TTypedKind::String, true, "\"tail!\""},
      {"ab " + nul + " ", TTypedKind::String, true, "\"ab\""},
      {"ab " + nul + " ", TTypedKind::Text, true, "\"ab \\u0000 \""},
      {"  " + nul, TTypedKind::String, true, "\"\""},
      {"\x01" + std::string(9, ' '), TTypedKind::String, true, "\"\\u0001\""},
  };
  for (const auto& c : cases) {
    TTypedReader reader(TKvCodePage::Get(1252), c.trim);
    TTypedColumn column;
    column.Kind = c.kind;
    TKvICellView cell;
    cell.Kind = VarKind::String;
    cell.Text = c.text;
    std::string got;
    ASSERT_TRUE(reader.AppendJsonDirect(got, column, &cell));
    EXPECT_EQ(got, c.want) << c.text.size();
  }
}

// JSON dates of cells that carry no calendar parts (their value alone) against their plain
// ISO text: days over the whole range, twice, and times of day.
TEST(TypedReader, JsonDatesOfValuesEqualTheirIsoText) {
  TTypedReader reader(TKvCodePage::Get(1252), true);
  TTypedColumn date;
  date.Kind = TTypedKind::Date;
  for (int pass = 0; pass < 2; ++pass) {
    for (double day = -693593; day <= 2958466; day += pass == 0 ? 997 : 4096) {
      for (const double value : {day, day + 0.25}) {
        TKvICellView cell;
        cell.Kind = VarKind::Date;
        cell.Real = value;
        std::string got, want = "\"";
        ASSERT_TRUE(reader.AppendJsonDirect(got, date, &cell));
        AppendIsoDateTime(want, value);
        ASSERT_EQ(got, want + "\"") << value;
      }
    }
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
  // Integers of every length, both signs, against std::to_chars.
  std::vector<std::int64_t> values = {0, 9, 10, 99, 100, 101, 9223372036854775807LL};
  for (std::int64_t p = 1; p < 1000000000000000000LL; p *= 10)
    for (const std::int64_t v : {p - 1, p, p + 1, 7 * p + 3}) values.push_back(v);
  for (const std::int64_t v : std::vector<std::int64_t>(values)) values.push_back(-v);
  for (const std::int64_t v : values) {
    char want[24];
    const auto res = std::to_chars(want, want + sizeof want, v);
    out.clear();
    AppendJsonInteger(out, v);
    ASSERT_EQ(out, std::string(want, res.ptr));
  }
}

// Doubles of two decimals or fewer take a shorter way than the general one: its text
// must be std::to_chars' own, around the limits of that way too.
TEST(JsonText, DoublesOfFewDecimalsGiveTheGeneralShortestText) {
  std::vector<double> values = {0.01,
                                -0.01,
                                0.1,
                                0.5,
                                1,
                                10,
                                100,
                                1000,
                                10000,
                                99999,
                                100000,
                                120000,
                                1000000,
                                1200000,
                                1234567,
                                1e12,
                                1.5e12,
                                9999999999999.99,
                                1e13,
                                -1e13,
                                9.99e12,
                                0.07,
                                5275.25,
                                5275.2,
                                2.675,
                                1e-3,
                                0.125,
                                123456789012.34,
                                4503599627370.49};
  std::mt19937_64 random(20261208);
  for (int i = 0; i < 200000; ++i) {
    const std::int64_t n = std::int64_t(random() % 2000000000000000ull) - 1000000000000000ll;
    const std::int64_t scale = std::int64_t(1) << (random() % 50);
    values.push_back(double(n / scale) / 100);                     // two decimals at every size
    values.push_back(double(n / scale) / 10);                      // one decimal
    values.push_back(double(n / scale) * 1000);                    // round integers
    values.push_back(std::ldexp(double(n), -int(random() % 80)));  // any double
  }
  for (const double v : values) {
    char want[32];
    const auto res = std::to_chars(want, want + sizeof want, v);
    std::string got;
    AppendJsonNumber(got, v);
    ASSERT_EQ(got, std::string(want, res.ptr)) << v;
  }
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
