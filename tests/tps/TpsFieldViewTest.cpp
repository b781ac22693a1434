// Field decoding into cell views: packed decimals read as their digit text would be.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "cells/KvBinaryText.h"
#include "cells/KvCells.h"
#include "cells/KvConvert.h"
#include "cells/KvDateTextCache.h"
#include "cells/KvDecimal.h"
#include "cells/KvSettings.h"
#include "tps/KvTPSValues.h"
#include "tpswriter/TpsWriter.h"

namespace {

using tpsw::Rng;

TEST(TpsFieldView, PackedDecimalsEqualTheirTextRead) {
  Rng r{12345};
  int checked = 0;
  for (int k = 0; k < 20000; ++k) {
    const std::size_t len = 1 + r.Next() % 15;  // up to 29 digits
    const int decimals = int(r.Next() % 32);
    std::vector<std::uint8_t> bytes(len);
    std::string digits;
    const bool negative = r.Next() % 2;
    bytes[0] = std::uint8_t((negative ? 0xF0 : 0x00) | (r.Next() % 10));
    digits += char('0' + (bytes[0] & 0x0F));
    for (std::size_t i = 1; i < len; ++i) {
      // Mostly small numbers, sometimes every digit used.
      const unsigned hi = r.Next() % 4 ? 0 : unsigned(r.Next() % 10);
      const unsigned lo = unsigned(r.Next() % 10);
      bytes[i] = std::uint8_t(hi << 4 | lo);
      digits += char('0' + hi);
      digits += char('0' + lo);
    }
    std::string text = digits;
    if (decimals >= 1 && std::size_t(decimals) <= digits.size())
      text.insert(text.size() - std::size_t(decimals), ".");
    double want = std::strtod(("0" + text).c_str(), nullptr);
    if (negative && want != 0) want = -want;

    TTPSField f;
    f.Type = tpsDecimal;
    f.Length = std::uint16_t(len);
    f.Decimals = std::uint8_t(decimals);
    TKvICellView v;
    std::int64_t invalid = 0;
    ASSERT_TRUE(TpsDecodeFieldView(f, bytes, 0, v, invalid)) << text;
    EXPECT_EQ(v.Kind, VarKind::Double);
    EXPECT_EQ(v.Real, want) << text << " decimals " << decimals;
    EXPECT_EQ(std::signbit(v.Real), std::signbit(want)) << text;
    ++checked;
  }
  EXPECT_EQ(checked, 20000);
  // A nibble that is no digit gives no value.
  TTPSField f;
  f.Type = tpsDecimal;
  f.Length = 2;
  TKvICellView v;
  std::int64_t invalid = 0;
  EXPECT_FALSE(TpsDecodeFieldView(f, std::vector<std::uint8_t>{0x01, 0x2A}, 0, v, invalid));
  EXPECT_EQ(v.Kind, VarKind::Null);
}

TEST(TpsFieldView, TextsPointIntoTheRecord) {
  const std::vector<std::uint8_t> data = {'x', 'A', 'B', 'C', 0, 'Z', 3, 'p', 'q', 'r', 's'};
  TTPSField f;
  f.Type = tpsChar;
  f.Offset = 1;
  f.Length = 4;
  TKvICellView v;
  std::int64_t invalid = 0;
  ASSERT_TRUE(TpsDecodeFieldView(f, data, 0, v, invalid));
  EXPECT_EQ(v.Text, std::string_view("ABC\0", 4));
  EXPECT_EQ(v.Text.data(), reinterpret_cast<const char*>(data.data()) + 1);
  f.Type = tpsVarChar;
  ASSERT_TRUE(TpsDecodeFieldView(f, data, 0, v, invalid));
  EXPECT_EQ(v.Text, "ABC");
  f.Type = tpsMaskString;
  f.Offset = 6;
  ASSERT_TRUE(TpsDecodeFieldView(f, data, 0, v, invalid));
  EXPECT_EQ(v.Text, "pqr");  // the length byte, then that many bytes
  EXPECT_EQ(v.CellType, ictString);
  EXPECT_EQ(v.Alignment, taLeftJustify);
  EXPECT_EQ(invalid, 0);
}

}  // namespace

namespace {

// Whether a field gives a value, told without decoding it, agrees with the decoding
// for every type, length and cut of the data.
TEST(TpsFieldView, HasValueAgreesWithDecoding) {
  Rng r{99};
  const std::uint8_t types[] = {tpsUnknown, tpsByte, tpsShort,   tpsUShort,     tpsDate,
                                tpsTime,    tpsLong, tpsULong,   tpsFloat,      tpsDouble,
                                tpsDecimal, tpsChar, tpsVarChar, tpsMaskString, tpsGroup,
                                tpsBLOB,    tpsMEMO, tpsString};
  int withValue = 0, without = 0;
  for (int k = 0; k < 20000; ++k) {
    TTPSField f;
    f.Type = types[r.Next() % std::size(types)];
    f.Offset = std::uint16_t(r.Next() % 6);
    f.Length = std::uint16_t(r.Next() % 2 ? r.Next() % 8 : r.Next() % 40);
    f.Decimals = std::uint8_t(r.Next() % 4);
    std::vector<std::uint8_t> data(r.Next() % 24);
    for (auto& b : data) b = std::uint8_t(r.Next() % 3 ? r.Next() % 0x9A : r.Next());
    const std::size_t start = r.Next() % 4;
    TKvICellView v;
    std::int64_t invalid = 0;
    const bool decoded = TpsDecodeFieldView(f, data, start, v, invalid);
    ASSERT_EQ(TpsFieldHasValue(f, data, start), decoded)
        << "type " << int(f.Type) << " length " << f.Length << " size " << data.size();
    (decoded ? withValue : without)++;
  }
  EXPECT_GT(withValue, 1000);
  EXPECT_GT(without, 1000);
}

// The check a load makes for impossible dates and times counts exactly what decoding
// counts: edge values of every part, then random words of small parts.
TEST(TpsFieldView, ImpossibleDatesAgreeWithDecoding) {
  auto word = [](int a, int b, int c, int d) {
    return std::uint32_t(a) << 24 | std::uint32_t(b) << 16 | std::uint32_t(c) << 8 |
           std::uint32_t(d);
  };
  std::vector<std::uint32_t> words = {0, 0x20202020u, 0x20202021u, 0xFFFFFFFFu};
  for (int year : {0, 1, 1900, 2000, 2023, 2024, 9999, 10000, 65535})
    for (int month : {0, 1, 2, 12, 13})
      for (int day : {0, 1, 28, 29, 30, 31, 32})
        words.push_back(std::uint32_t(year) << 16 | std::uint32_t(month) << 8 | std::uint32_t(day));
  for (int hours : {0, 23, 24, 0x80, 0x80 + 23, 0x80 + 24, 0xFF})
    for (int minutes : {0, 59, 60})
      for (int seconds : {0, 59, 60})
        for (int hundredths : {0, 99, 100, 255})
          words.push_back(word(hours, minutes, seconds, hundredths));
  Rng r{7};
  for (int k = 0; k < 20000; ++k)
    words.push_back(
        word(int(r.Next() % 30), int(r.Next() % 64), int(r.Next() % 64), int(r.Next() % 110)));
  int impossible = 0, possible = 0;
  for (std::uint8_t type : {tpsDate, tpsTime})
    for (std::uint32_t w : words)
      for (std::size_t size : {4, 5, 3}) {
        TTPSField f;
        f.Type = type;
        f.Offset = 1;
        f.Length = 4;
        std::vector<std::uint8_t> data(size + 1, 0x41);
        for (std::size_t i = 0; i < 4 && 1 + i < data.size(); ++i)
          data[1 + i] = std::uint8_t(w >> (8 * i));
        TKvICellView v;
        std::int64_t invalid = 0;
        TpsDecodeFieldView(f, data, 0, v, invalid);
        ASSERT_EQ(TpsFieldIsImpossibleDate(f, data, 0), invalid == 1)
            << "type " << int(type) << " word " << std::hex << w << " size " << size;
        (invalid ? impossible : possible)++;
      }
  EXPECT_GT(impossible, 1000);
  EXPECT_GT(possible, 1000);
}

// The text a decoded date or time gets from the parts it carries equals the text of its
// value: month ends of every year (every day near 1900, 2000 and 2100 and at the ends
// of four-digit years), every second of the day with edge hundredths and the hours' top
// bit, under settings of plain and of other forms.
TEST(TpsFieldView, DateAndTimeTextsFromTheirPartsEqualTheValuesText) {
  std::vector<std::pair<std::uint8_t, std::uint32_t>> words;
  for (std::uint32_t year = 1; year <= 9999; ++year) {
    const bool everyDay =
        (year >= 1890 && year <= 2110) || (year >= 995 && year <= 1005) || year >= 9995;
    for (std::uint32_t month = 1; month <= 12; ++month)
      for (std::uint32_t day = 1; day <= 31; ++day)
        if (everyDay || ((month <= 3 || month == 12) && (day == 1 || day >= 28)))
          words.push_back({tpsDate, year << 16 | month << 8 | day});
  }
  for (std::uint32_t second = 0; second < 86400; ++second)
    for (std::uint32_t extra : {0u, 99u, 0x80000000u, second * 7 % 100}) {
      const std::uint32_t h = second / 3600, m = second / 60 % 60, s = second % 60;
      words.push_back(
          {tpsTime, (h << 24 | m << 16 | s << 8 | (extra & 0xFF)) | (extra >> 31 << 31)});
    }
  FormatSettings dots = FormatSettings::Iso();
  dots.ShortDateFormat = "yyyy/mm/dd";
  dots.DateSeparator = '.';
  dots.TimeSeparator = '.';
  FormatSettings withMs = FormatSettings::Iso();
  withMs.LongTimeFormat = "hh:nn:ss.zzz";
  for (const FormatSettings& fs :
       {FormatSettings::Iso(), dots, withMs, FormatSettings::UnitedStates()}) {
    TDateTextCache cache(fs);
    std::size_t withParts = 0;
    for (const auto& [type, w] : words) {
      TTPSField f;
      f.Type = type;
      f.Length = 4;
      const std::uint8_t data[4] = {std::uint8_t(w), std::uint8_t(w >> 8), std::uint8_t(w >> 16),
                                    std::uint8_t(w >> 24)};
      TKvICellView v;
      std::int64_t invalid = 0;
      if (!TpsDecodeFieldView(f, data, 0, v, invalid) || v.Kind != VarKind::Date) continue;
      withParts += v.Int != 0;
      std::string got, want;
      cache.Append(got, v);
      AppendDateTimeText(want, v.Real, fs);
      ASSERT_EQ(got, want) << fs.ShortDateFormat << " " << fs.LongTimeFormat << " word " << std::hex
                           << w;
      // The ISO forms the same way.
      got.clear();
      want.clear();
      if (!AppendIsoDateTimeParts(got, v.Int, v.Real)) {
        EXPECT_EQ(v.Real, 0) << std::hex << w;
        continue;
      }
      AppendIsoDateTime(want, v.Real);
      ASSERT_EQ(got, want) << "ISO, word " << std::hex << w;
    }
    EXPECT_GT(withParts, 500000u);
  }
}

// A packed decimal's text, written from its digits where that gives the same text, equals
// the text of its Double (or its exact digits beyond 15): runs of zeros before and after
// the digits put the first one at every place, with and without an exponent.
TEST(TpsFieldView, PackedDecimalTextEqualsThatOfItsDouble) {
  Rng r{99};
  FormatSettings comma = FormatSettings::Iso();
  comma.DecimalSeparator = ',';
  std::size_t exponents = 0;
  for (int k = 0; k < 40000; ++k) {
    const std::size_t len = 1 + r.Next() % 20;
    std::vector<std::uint8_t> bytes(len);
    const std::size_t zerosBefore = r.Next() % (2 * len), digits = 1 + r.Next() % 18;
    for (std::size_t i = 0; i < 2 * len - 1; ++i) {
      const std::uint8_t digit =
          i < zerosBefore || i >= zerosBefore + digits
              ? 0
              : std::uint8_t(r.Next() % (i == zerosBefore ? 9 : 10) + (i == zerosBefore));
      std::uint8_t& b = bytes[(i + 1) / 2];
      b = std::uint8_t(i % 2 == 0 ? (b & 0xF0) | digit : (b & 0x0F) | digit << 4);
    }
    if (r.Next() % 2) bytes[0] |= 0xD0;
    TTPSField f;
    f.Type = tpsDecimal;
    f.Length = std::uint16_t(len);
    f.Decimals = std::uint8_t(r.Next() % 34);
    TKvICellView v;
    std::int64_t invalid = 0;
    ASSERT_TRUE(TpsDecodeFieldView(f, bytes, 0, v, invalid));
    const FormatSettings& fs = k % 2 ? comma : CurrentSettings();
    std::string got, want;
    AppendTextOf(got, v, fs);
    if (PackedDecimalNeedsDigits(v.Text))
      AppendPackedDecimal(want, v.Text, v.PackedDecimals, fs.DecimalSeparator, false);
    else
      AppendFloatG(want, v.Real, 15, fs);
    ASSERT_EQ(got, want) << "decimals " << int(f.Decimals) << " len " << len;
    exponents += want.find('E') != std::string::npos;
  }
  EXPECT_GT(exponents, 1000u);
}

}  // namespace
