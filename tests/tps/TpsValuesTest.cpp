// Field values of every type, arrays, and MEMO/BLOB texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "cells/KvConvert.h"
#include "cells/KvDecimal.h"
#include "tps/KvTPSValues.h"
#include "tps/TpsTestUtil.h"
#include "tpswriter/TpsWriter.h"

using tpstest::Load;
using tpstest::Sheet;
using tpstest::Text;

namespace {

// Decodes one field from raw payload bytes.
struct Decoded {
  Variant value;
  TKvICellType type = ictUnknown;
  std::int64_t invalid = 0;
};
Decoded Decode(std::uint8_t code, std::vector<std::uint8_t> bytes, std::uint16_t length = 0,
               std::uint8_t decimals = 0) {
  TTPSField f;
  f.Type = code;
  f.Offset = 2;
  f.Length = length ? length : std::uint16_t(bytes.size());
  f.Decimals = decimals;
  std::vector<std::uint8_t> data{0xAA, 0xBB};  // a two-byte header before the payload
  data.insert(data.end(), bytes.begin(), bytes.end());
  Decoded d;
  TpsDecodeField(f, data, 0, d.value, d.type, d.invalid);
  return d;
}
std::string T(const Decoded& d) { return TextOf(d.value, FormatSettings::Iso()); }

}  // namespace

TEST(TpsValues, IntegersAndUnsignedLong) {
  EXPECT_EQ(T(Decode(tpsShort, {0xFE, 0xFF})), "-2");
  EXPECT_EQ(T(Decode(tpsUShort, {0xFE, 0xFF})), "65534");
  EXPECT_EQ(T(Decode(tpsByte, {0xFF})), "255");
  EXPECT_EQ(T(Decode(tpsLong, {0xFF, 0xFF, 0xFF, 0xFF})), "-1");
  // ULong from 2^31 up keeps its unsigned value.
  auto u = Decode(tpsULong, {0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(T(u), "4294967295");
  EXPECT_EQ(u.type, ictInteger);
  EXPECT_EQ(T(Decode(tpsULong, {0x00, 0x00, 0x00, 0x80})), "2147483648");
  EXPECT_EQ(T(Decode(tpsULong, {0xFF, 0xFF, 0xFF, 0x7F})), "2147483647");
  // Cut off by the end of the data: nothing is read.
  EXPECT_TRUE(Decode(tpsLong, {0x01, 0x02}, 4).value.IsNull());
}

TEST(TpsValues, DatesAndTimes) {
  auto d = Decode(tpsDate, {0x1F, 0x0C, 0xD0, 0x07});
  EXPECT_EQ(T(d), "2000-12-31");
  EXPECT_EQ(d.type, ictDate);
  for (auto empty : {std::vector<std::uint8_t>{0, 0, 0, 0}, {0x20, 0x20, 0x20, 0x20}}) {
    auto e = Decode(tpsDate, empty);
    EXPECT_EQ(e.value.Kind(), VarKind::String);
    EXPECT_EQ(T(e), "");
    EXPECT_EQ(e.type, ictDate);
    EXPECT_EQ(Decode(tpsTime, empty).value.Kind(), VarKind::String);
  }
  // The lowest byte of a time is hundredths: 11:07:13.42.
  auto t = Decode(tpsTime, {0x2A, 0x0D, 0x07, 0x0B});
  EXPECT_EQ(t.type, ictDate);
  EXPECT_DOUBLE_EQ(t.value.AsDouble(), EncodeTime(11, 7, 13, 420));
  EXPECT_DOUBLE_EQ(Decode(tpsTime, {0x32, 0x1E, 0x0F, 0x0A}).value.AsDouble(),
                   EncodeTime(10, 15, 30, 500));
  // The top bit of the hour byte is ignored.
  EXPECT_DOUBLE_EQ(Decode(tpsTime, {0, 0, 0, 0x81}).value.AsDouble(), EncodeTime(1, 0, 0, 0));
  // Impossible values: an empty text, counted, no failure.
  for (auto bad :
       {std::vector<std::uint8_t>{40, 2, 0xD0, 0x07}, {1, 13, 0xD0, 0x07}, {29, 2, 0x6B, 0x07}}) {
    auto b = Decode(tpsDate, bad);
    EXPECT_EQ(b.value.Kind(), VarKind::String);
    EXPECT_EQ(T(b), "");
    EXPECT_EQ(b.invalid, 1);
  }
  for (auto bad :
       {std::vector<std::uint8_t>{0, 0, 0, 24}, {0, 0, 60, 1}, {0, 60, 0, 1}, {100, 0, 0, 1}}) {
    auto b = Decode(tpsTime, bad);
    EXPECT_EQ(T(b), "");
    EXPECT_EQ(b.invalid, 1);
  }
  EXPECT_EQ(Decode(tpsDate, {29, 2, 0xD0, 0x07}).invalid, 0);  // 2000-02-29 exists
}

TEST(TpsValues, RealsAndDecimals) {
  EXPECT_EQ(T(Decode(tpsFloat, {0x81, 0, 0, 0, 0, 0})), "1");
  EXPECT_EQ(T(Decode(tpsFloat, {0x82, 0, 0, 0, 0, 0x80})), "-2");
  EXPECT_EQ(T(Decode(tpsFloat, {0, 1, 2, 3, 4, 5})), "0");
  EXPECT_EQ(T(Decode(tpsFloat, tpsw::EncodeReal48(1234.5625))), "1234.5625");
  // A Float declared with 4 bytes is an IEEE single.
  float f = 1.5f;
  std::vector<std::uint8_t> fb(4);
  std::memcpy(fb.data(), &f, 4);
  auto s = Decode(tpsFloat, fb);
  EXPECT_EQ(T(s), "1.5");
  EXPECT_EQ(s.type, ictDecimal);
  double d = -0.125;
  std::vector<std::uint8_t> db(8);
  std::memcpy(db.data(), &d, 8);
  EXPECT_EQ(T(Decode(tpsDouble, db)), "-0.125");

  EXPECT_EQ(T(Decode(tpsDecimal, {0x00, 0x01, 0x23, 0x45}, 0, 2)), "123.45");
  EXPECT_EQ(T(Decode(tpsDecimal, {0xF0, 0x01, 0x23, 0x45}, 0, 2)), "-123.45");
  EXPECT_EQ(T(Decode(tpsDecimal, {0x00, 0x01, 0x23, 0x45}, 0, 3)), "12.345");
  EXPECT_EQ(T(Decode(tpsDecimal, {0x00, 0x00, 0x00, 0x07})), "7");
  EXPECT_EQ(T(Decode(tpsDecimal, {0xF0, 0x00, 0x00, 0x07})), "-7");
  // The low nibble of the first byte is the leading digit: DECIMAL(5,2) 123.45.
  EXPECT_EQ(T(Decode(tpsDecimal, {0x01, 0x23, 0x45}, 0, 2)), "123.45");
  EXPECT_EQ(T(Decode(tpsDecimal, {0xF9, 0x99, 0x99}, 0, 2)), "-999.99");
  EXPECT_EQ(T(Decode(tpsDecimal, tpsw::EncodeDecimal(5, 2, "-98765.43"), 0, 2)), "-98765.43");
  EXPECT_EQ(T(Decode(tpsDecimal, {0x00})), "0");
  EXPECT_EQ(T(Decode(tpsDecimal, {0xF0, 0x00}, 0, 1)), "0");  // no negative zero
  EXPECT_EQ(T(Decode(tpsDecimal, std::vector<std::uint8_t>(30, 0x11))), "0");
  EXPECT_TRUE(Decode(tpsDecimal, {0x00, 0x1A}).value.IsNull());  // not a digit
}

// A packed decimal's view carries its stored bytes: the default text gives the exact
// digits only where the Double text would not give back the value; the exact text
// with all decimals is what typed outputs write. The Double stays the filter's value.
TEST(TpsValues, DecimalExactDigits) {
  const struct {
    std::size_t length;
    int decimals;
    const char* stored;
    const char* text;   // default text, ISO settings
    const char* exact;  // every declared decimal
  } cases[] = {
      {1, 0, "7", "7", "7"},
      {1, 1, "0.5", "0.5", "0.5"},
      {2, 2, "1.50", "1.5", "1.50"},
      {3, 2, "5", "5", "5.00"},
      {3, 2, "-10.5", "-10.5", "-10.50"},
      {4, 6, "-0.000001", "-1E-06", "-0.000001"},
      {2, 0, "0", "0", "0"},
      {8, 0, "123456789012345", "123456789012345", "123456789012345"},
      {9, 0, "1234567890123456", "1234567890123456", "1234567890123456"},
      {9, 2, "12345678901234.50", "12345678901234.5", "12345678901234.50"},
      {10, 2, "12345678901234567.89", "12345678901234567.89", "12345678901234567.89"},
      {10, 2, "-99999999999999999.99", "-99999999999999999.99", "-99999999999999999.99"},
      {11, 10, "-1234567.8901234567", "-1234567.8901234567", "-1234567.8901234567"},
      {16, 0, "9999999999999999999999999999999", "9999999999999999999999999999999",
       "9999999999999999999999999999999"},
      {16, 31, "0.1234567890123456789012345678901", "0.1234567890123456789012345678901",
       "0.1234567890123456789012345678901"},
      {16, 10, "-123456789012345678901.0000000000", "-123456789012345678901",
       "-123456789012345678901.0000000000"},
      {15, 3, "0000000000000000000000000012.500", "12.5", "12.500"},
      // Fields longer than 16 bytes keep every digit too.
      {20, 2, "-1234567890123456789012345678.91", "-1234567890123456789012345678.91",
       "-1234567890123456789012345678.91"},
      {29, 1, "12345678901234567890123456789012345678901234567890123456.7",
       "12345678901234567890123456789012345678901234567890123456.7",
       "12345678901234567890123456789012345678901234567890123456.7"},
  };
  const FormatSettings iso = FormatSettings::Iso();
  for (const auto& c : cases) {
    TTPSField f;
    f.Type = tpsDecimal;
    f.Length = std::uint16_t(c.length);
    f.Decimals = std::uint8_t(c.decimals);
    const std::vector<std::uint8_t> data = tpsw::EncodeDecimal(c.length, c.decimals, c.stored);
    TKvICellView v;
    std::int64_t invalid = 0;
    ASSERT_TRUE(TpsDecodeFieldView(f, data, 0, v, invalid)) << c.stored;
    ASSERT_TRUE(v.IsPackedDecimal()) << c.stored;
    std::string text, exact;
    AppendTextOf(text, v, iso);
    AppendPackedDecimal(exact, v.Text, v.PackedDecimals, '.', true);
    EXPECT_EQ(text, c.text) << c.stored;
    EXPECT_EQ(exact, c.exact) << c.stored;
    EXPECT_EQ(v.Real, std::strtod(c.stored, nullptr)) << c.stored;
  }
  // A negative zero is zero; a comma as decimal separator in the exact default text.
  TTPSField f;
  f.Type = tpsDecimal;
  f.Length = 3;
  f.Decimals = 2;
  TKvICellView v;
  std::int64_t invalid = 0;
  const std::vector<std::uint8_t> negZero{0xF0, 0x00, 0x00};
  ASSERT_TRUE(TpsDecodeFieldView(f, negZero, 0, v, invalid));
  std::string exact;
  AppendPackedDecimal(exact, v.Text, v.PackedDecimals, '.', true);
  EXPECT_EQ(exact, "0.00");
  FormatSettings comma = iso;
  comma.DecimalSeparator = ',';
  f.Length = 10;
  const auto big = tpsw::EncodeDecimal(10, 2, "12345678901234567.89");
  ASSERT_TRUE(TpsDecodeFieldView(f, big, 0, v, invalid));
  std::string text;
  AppendTextOf(text, v, comma);
  EXPECT_EQ(text, "12345678901234567,89");
}

TEST(TpsValues, TextKinds) {
  auto c = Decode(tpsChar, {'A', 'B', ' ', ' ', ' '});
  EXPECT_EQ(T(c), "AB   ");
  EXPECT_EQ(c.type, ictString);
  EXPECT_EQ(Decode(tpsChar, {'A', 0, 'B'}).value.AsString(), std::string("A\0B", 3));
  auto v = Decode(tpsVarChar, {0, 'x', 'y'});
  EXPECT_EQ(v.value.Kind(), VarKind::String);
  EXPECT_EQ(T(v), "");
  EXPECT_EQ(v.type, ictString);
  EXPECT_EQ(T(Decode(tpsVarChar, {'a', 'b', 0, 'c'})), "ab");
  EXPECT_EQ(T(Decode(tpsVarChar, {'a', 'b', 'c'}, 2)), "ab");  // within its own bytes
  EXPECT_EQ(T(Decode(tpsMaskString, {3, 'X', 'Y', 'Z', 'W'})), "XYZ");
  EXPECT_EQ(T(Decode(tpsMaskString, {200, 'X', 'Y'})), "XY");  // cut at the field's end
  for (std::uint8_t code : {tpsUnknown, tpsGroup, tpsString, tpsMEMO, tpsBLOB}) {
    auto n = Decode(code, {1, 2, 3, 4});
    EXPECT_TRUE(n.value.IsNull());
    EXPECT_EQ(n.type, ictEmpty);
  }
}

TEST(TpsValues, ArraysJoinedOrSplit) {
  tpsw::Table t;
  t.name = "ARR";
  t.fields = {tpsw::Field(tpsw::kShort, "CUS:VALS", 0, 6, 3),
              tpsw::Field(tpsw::kLong, "CUS:SCORE", 6, 12, 3),
              tpsw::Field(tpsw::kString, "CUS:TAGS", 18, 6, 2)};
  auto bytes = tpsw::Fixture(t, {{"1|-2|3", "10|20|30", "ab|cd"}});
  auto r = Load(bytes);
  auto& s = Sheet(*r, 0);
  EXPECT_EQ(Text(s, 0, 0), "(1,-2,3)");
  EXPECT_EQ(Text(s, 1, 0), "(10,20,30)");
  EXPECT_EQ(Text(s, 2, 0), "(ab ,cd )");
  EXPECT_EQ(s.Cells.GetCell(0, 0)->CellType, ictInteger);
  EXPECT_EQ(s.Cells.GetCell(0, 0)->Alignment, taLeftJustify);

  TClarionTPS semi;
  semi.ResetGrid();
  semi.ArrayFieldSeparator = ";";
  TMemoryStream in(bytes);
  semi.LoadFromStream(in);
  EXPECT_EQ(Text(Sheet(semi, 0), 1, 0), "(10;20;30)");

  TClarionTPS split;
  split.ResetGrid();
  split.SplitArrayFields = true;
  TMemoryStream in2(bytes);
  split.LoadFromStream(in2);
  auto& u = Sheet(split, 0);
  EXPECT_EQ(tpstest::FieldNames(u),
            (std::vector<std::string>{"VALS", "VALS_1", "VALS_2", "VALS_3", "SCORE", "SCORE_1",
                                      "SCORE_2", "SCORE_3", "TAGS", "TAGS_1", "TAGS_2"}));
  EXPECT_EQ(u.FieldCount, 11);
  EXPECT_EQ(u.Fields[4].Type, tpsGroup);
  EXPECT_TRUE(u.Cells.GetValue(4, 0).IsNull());
  EXPECT_EQ(Text(u, 5, 0), "10");
  EXPECT_EQ(Text(u, 7, 0), "30");
  EXPECT_EQ(Text(u, 2, 0), "-2");
  EXPECT_EQ(Text(u, 10, 0), "cd ");
  // The links keep the unpatched names; they belong to the selected table, which is
  // the empty table 0 here and is gone after the load, so check through a table number.
  TClarionTPS linked;
  linked.ResetGrid();
  linked.SplitArrayFields = true;
  linked.TableNumber = 1;
  TMemoryStream in3(bytes);
  linked.LoadFromStream(in3);
  auto& l = Sheet(linked, 0);
  ASSERT_EQ(l.FieldLinks.size(), 8u);
  EXPECT_EQ(l.FieldLinks[3].ColumnName, "CUS:SCORE_1");
  EXPECT_EQ(l.FieldLinks[3].FieldName, "CUS:SCORE");
  EXPECT_EQ(l.FieldLinks[3].FieldPosition, 4);
  EXPECT_EQ(l.FieldLinks[3].Kind, 2);
  EXPECT_EQ(l.FieldLinks[0].FieldCount, 3);  // descriptors before each copy went in
  EXPECT_EQ(l.FieldLinks[3].FieldCount, 6);
  EXPECT_EQ(l.FieldLinks[7].FieldCount, 10);
}

TEST(TpsValues, MemoAndBlobTexts) {
  tpsw::Table t;
  t.name = "MEMOS";
  t.fields = {tpsw::Field(tpsw::kLong, "M:ID", 0, 4)};
  t.memos = {tpsw::Memo("M:TEXT"), tpsw::Memo("M:BIN", true), tpsw::Memo("M:MORE")};
  std::string longText;
  for (int i = 0; i < 300; ++i) longText += char('a' + i % 26);
  std::string binary("\x00\x01\xFF\x00zz", 6);
  tpsw::Options o;
  o.memoPieceSize = 7;
  o.memoPiecesReversed = true;  // pieces stored last first
  auto r = Load(tpsw::Fixture(t,
                              {{"1", longText, binary, ""},
                               {"2", "", "", "second memo only"},
                               {"3", "x", "", ""},
                               {"4", "", "", ""}},
                              o));
  auto& s = Sheet(*r, 0);
  ASSERT_EQ(s.Cells.RowCount, 4);
  EXPECT_EQ(Text(s, 1, 0), longText);
  EXPECT_EQ(s.Cells.GetValue(2, 0).AsString(), binary);
  EXPECT_EQ(s.Cells.GetCell(1, 0)->CellType, ictMemo);
  EXPECT_TRUE(s.Cells.GetValue(1, 1).IsNull());
  EXPECT_TRUE(s.Cells.GetValue(2, 1).IsNull());
  EXPECT_EQ(Text(s, 3, 1), "second memo only");
  EXPECT_EQ(Text(s, 1, 2), "x");
  EXPECT_TRUE(s.Cells.GetValue(3, 2).IsNull());
  EXPECT_TRUE(s.Cells.GetValue(1, 3).IsNull());

  // A BLOB's length prefix bounds its value; fewer bytes than it promises give what is there.
  std::vector<std::uint8_t> file;
  {
    tpsw::Options raw;
    raw.blobLengthPrefix = false;
    tpsw::Writer w(&file, raw);
    w.AddTable(t);
    tpsw::Payload p(4);
    p.PutLong(0, 1);
    w.AddRow(1, 1, p);
    w.AddMemo(1, 1, 1,
              std::string("\x03\x00\x00\x00"
                          "abcdef",
                          10),
              true);
    p.PutLong(0, 2);
    w.AddRow(1, 2, p);
    w.AddMemo(1, 2, 1,
              std::string("\x50\x00\x00\x00"
                          "abc",
                          7),
              true);
    // Memo text without its data record, and a memo of a row after it: not mixed up.
    w.AddMemo(1, 9, 0, "orphan", false);
  }
  auto b = Load(file);
  EXPECT_EQ(Text(Sheet(*b, 0), 2, 0), "abc");
  EXPECT_EQ(Text(Sheet(*b, 0), 2, 1), "abc");
  EXPECT_EQ(Sheet(*b, 0).Cells.RowCount, 2);

  // Without ipiBLOB no memo is assembled.
  TClarionTPS noMemo;
  noMemo.ResetGrid();
  noMemo.ParseItems.Exclude(ipiBLOB);
  TMemoryStream in(file);
  noMemo.LoadFromStream(in);
  EXPECT_TRUE(Sheet(noMemo, 0).Cells.GetValue(2, 0).IsNull());
}

TEST(TpsValues, ImpossibleDateDoesNotEndTheLoad) {
  tpsw::Table t;
  t.number = 1;
  t.name = "DATES";
  t.fields = {tpsw::Field(tpsw::kDate, "D:DAY", 0, 4), tpsw::Field(tpsw::kTime, "D:AT", 4, 4),
              tpsw::Field(tpsw::kLong, "D:N", 8, 4)};
  std::vector<std::uint8_t> file;
  {
    tpsw::Writer w(&file);
    w.AddTable(t);
    tpsw::Table other = t;
    other.number = 2;
    other.name = "OTHER";
    w.AddTable(other);
    const char* rows[][3] = {{"2000-13-40", "25:00:00", "1"},
                             {"2021-05-06", "07:08:09.10", "2"},
                             {"2021-02-30", "", "3"}};
    int rec = 1;
    for (auto& row : rows) {
      tpsw::Payload p(12);
      for (int c = 0; c < 3; ++c) tpsw::PutValue(p, t.fields[c], row[c]);
      w.AddRow(1, rec, p);
      w.AddRow(2, rec++, p);
    }
  }
  auto r = Load(file);
  ASSERT_EQ(r->Sheets().Count(), 2);
  EXPECT_EQ(r->InvalidDateTimeCount(), 6);  // three per table
  for (int i = 0; i < 2; ++i) {
    auto& s = Sheet(*r, i);
    ASSERT_EQ(s.Cells.RowCount, 3);
    EXPECT_EQ(Text(s, 0, 0), "");
    EXPECT_EQ(Text(s, 1, 0), "");
    EXPECT_EQ(Text(s, 2, 0), "1");
    EXPECT_EQ(Text(s, 0, 1), "2021-05-06");
    EXPECT_DOUBLE_EQ(s.Cells.GetValue(1, 1).AsDouble(), EncodeTime(7, 8, 9, 100));
    EXPECT_EQ(Text(s, 0, 2), "");
    EXPECT_EQ(Text(s, 2, 2), "3");
  }
}
