#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
#include "cells/KvLocaleItems.h"
#include "cells/KvSettings.h"

namespace {

const FormatSettings kIso = FormatSettings::Iso();
const FormatSettings kUs = FormatSettings::UnitedStates();

double Num(const char* s, const FormatSettings& fs = kIso) {
  double d = -999;
  EXPECT_TRUE(TryTextToDouble(s, fs, d)) << s;
  return d;
}

bool NotNum(const char* s, const FormatSettings& fs = kIso) {
  double d;
  return !TryTextToDouble(s, fs, d);
}

TEST(Convert, TextToNumber) {
  EXPECT_EQ(Num("12"), 12);
  EXPECT_EQ(Num("  -3.5 "), -3.5);
  EXPECT_EQ(Num("1,234.5"), 1234.5);
  EXPECT_EQ(Num("2E3"), 2000);
  EXPECT_EQ(Num(".5"), 0.5);
  EXPECT_EQ(Num("+7"), 7);
  EXPECT_TRUE(NotNum(""));
  EXPECT_TRUE(NotNum("abc"));
  EXPECT_TRUE(NotNum("1.2.3"));
  EXPECT_TRUE(NotNum("12AB"));
  EXPECT_TRUE(NotNum("1e"));
  EXPECT_TRUE(NotNum("-"));
  EXPECT_TRUE(NotNum("1e999"));
  FormatSettings de;
  de.DecimalSeparator = ',';
  de.ThousandSeparator = '.';
  EXPECT_EQ(Num("1.234,5", de), 1234.5);
  EXPECT_TRUE(NotNum("1,2,3", de));
}

TEST(Convert, VariantConversions) {
  EXPECT_EQ(VarToInteger(Variant::Double(2.5), kIso), 2);  // ties to even
  EXPECT_EQ(VarToInteger(Variant::Double(3.5), kIso), 4);
  EXPECT_EQ(VarToInteger(Variant::String(" 42 "), kIso), 42);
  EXPECT_EQ(VarToInteger(Variant::Boolean(true), kIso), -1);
  EXPECT_EQ(VarToInteger(Variant(), kIso), 0);
  EXPECT_THROW(VarToInteger(Variant::Null(), kIso), EVariantTypeCastError);
  EXPECT_THROW(VarToInteger(Variant::String("x"), kIso), EVariantTypeCastError);
  EXPECT_THROW(VarToInteger(Variant::Double(3e9), kIso), EInvalidOp);
  EXPECT_EQ(VarToReal(Variant::String("1,234"), kIso), 1234);
  EXPECT_EQ(VarToReal(Variant::CurrencyScaled(25000), kIso), 2.5);
  try {
    VarToReal(Variant::String("abc"), kIso);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Invalid variant type conversion");
  }
  EXPECT_TRUE(VarToBoolean(Variant::String("TRUE"), kIso));
  EXPECT_FALSE(VarToBoolean(Variant::String("false"), kIso));
  EXPECT_TRUE(VarToBoolean(Variant::String("2"), kIso));
  EXPECT_FALSE(VarToBoolean(Variant::String("0"), kIso));
  EXPECT_THROW(VarToBoolean(Variant::String("yes"), kIso), EVariantTypeCastError);
  EXPECT_THROW(VarToBoolean(Variant::Null(), kIso), EVariantTypeCastError);
}

TEST(Convert, StrToIntIsStrict) {
  EXPECT_EQ(StrToInt("  -12"), -12);
  EXPECT_EQ(StrToInt("$FF"), 255);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
  for (const char* bad : {"", "12 ", "1.5", "2147483648", "x", "$", "-"}) {
    try {
      StrToInt(bad);
      FAIL() << bad;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), std::string("'") + bad + "' is not a valid integer value");
    }
  }
}

TEST(Convert, TextToDateFollowsTheSettings) {
  TDateTime d;
  ASSERT_TRUE(TryTextToDate("2024-03-01", kIso, d));
  EXPECT_EQ(d, EncodeDate(2024, 3, 1));
  ASSERT_TRUE(TryTextToDate("3/1/2024", kUs, d));
  EXPECT_EQ(d, EncodeDate(2024, 3, 1));
  EXPECT_FALSE(TryTextToDate("2024-02-30", kIso, d));
  EXPECT_FALSE(TryTextToDate("2024-03-01 10:00", kIso, d));
  ASSERT_TRUE(TryTextToDateTime("2024-03-01 10:15:30", kIso, d));
  EXPECT_DOUBLE_EQ(d, EncodeDate(2024, 3, 1) + EncodeTime(10, 15, 30, 0));
  ASSERT_TRUE(TryTextToDateTime("1:05:00 PM", kUs, d));
  EXPECT_DOUBLE_EQ(d, EncodeTime(13, 5, 0, 0));
  ASSERT_TRUE(TryTextToDateTime("12:30 am", kUs, d));
  EXPECT_DOUBLE_EQ(d, EncodeTime(0, 30, 0, 0));
  EXPECT_FALSE(TryTextToDateTime("25:00", kIso, d));
  EXPECT_FALSE(TryTextToDateTime("12", kIso, d));
  // what TextOf writes reads back
  TDateTime v = EncodeDate(1999, 12, 31) + EncodeTime(23, 59, 59, 0);
  std::string text;
  AppendDateTimeText(text, v, kUs);
  ASSERT_TRUE(TryTextToDateTime(text, kUs, d)) << text;
  EXPECT_NEAR(d, v, 1e-9);
}

TEST(Convert, CalendarEncodingAndDecoding) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526);
  EXPECT_EQ(EncodeDate(1800, 12, 28), -36161);  // the Clarion day 0
  int y, m, d;
  for (TDateTime t : {-36161.0, 0.0, 36526.0, 60.0, 2958465.0}) {
    DecodeDate(t, y, m, d);
    EXPECT_EQ(EncodeDate(y, m, d), t);
  }
  DecodeDate(EncodeDate(2024, 2, 29), y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20240229);
  EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  int h, n, s, ms;
  DecodeTime(EncodeTime(10, 15, 30, 50), h, n, s, ms);
  EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + ms, 101530050);
}

TEST(Convert, FormatDateTimePatterns) {
  TDateTime t = EncodeDate(2024, 3, 1) + EncodeTime(14, 5, 9, 7);
  EXPECT_EQ(FormatDateTime("yyyy", t, kIso), "2024");
  EXPECT_EQ(FormatDateTime("m", t, kIso), "3");
  EXPECT_EQ(FormatDateTime("d/mmm/yy", t, kUs), "1/Mar/24");
  EXPECT_EQ(FormatDateTime("h:m", t, kIso), "14:5");  // m after h is minutes
  EXPECT_EQ(FormatDateTime("hh:nn:ss.zzz", t, kIso), "14:05:09.007");
  EXPECT_EQ(FormatDateTime("h am/pm", t, kIso), "2 pm");
  EXPECT_EQ(FormatDateTime("mmmm 'of' yyyy", t, kIso), "March of 2024");
}

// printf's %.{precision}G through the general formatting of the standard library,
// upper case, with the given decimal separator: what AppendFloatG must write.
std::string ReferenceG(double v, int precision, char separator) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, precision);
  std::string text(buf, r.ptr);
  for (char& c : text) {
    if (c == '.')
      c = separator;
    else if (c >= 'a' && c <= 'z')
      c = char(c - 32);
  }
  return text;
}

TEST(Convert, FormatFloatGWritesPrintfsGeneralForm) {
  EXPECT_EQ(FormatFloatG(-76655.38, 15, kIso), "-76655.38");
  EXPECT_EQ(FormatFloatG(1e15, 15, kIso), "1E+15");
  EXPECT_EQ(FormatFloatG(999999999999999, 15, kIso), "999999999999999");
  EXPECT_EQ(FormatFloatG(0.0001, 15, kIso), "0.0001");
  EXPECT_EQ(FormatFloatG(0.00001234, 15, kIso), "1.234E-05");
  EXPECT_EQ(FormatFloatG(2.5e-300, 15, kIso), "2.5E-300");
  EXPECT_EQ(FormatFloatG(-0.0, 15, kIso), "-0");
  EXPECT_EQ(FormatFloatG(0.1 + 0.2, 15, kIso), "0.3");  // 17 shortest digits
  EXPECT_EQ(FormatFloatG(100, 15, kIso), "100");

  FormatSettings comma = kIso;
  comma.DecimalSeparator = ',';
  std::vector<double> values = {0.0,
                                1.0,
                                0.5,
                                123456789012345.0,
                                1234567890123456.0,
                                12345678901234567.0,
                                1e14,
                                9.99999999999999e14,
                                9.999999999999999e14,
                                1e-4,
                                9.9999e-5,
                                1e-5,
                                1e100,
                                1e-100,
                                5e-324,
                                -2.5e-320,
                                1.234e-310,
                                std::numeric_limits<double>::max(),
                                std::numeric_limits<double>::min(),
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN(),
                                double(0.1f),
                                125.125};
  std::mt19937_64 random(20261207);
  for (int i = 0; i < 4000; ++i) {
    std::uint64_t bits = random();
    double d;
    static_assert(sizeof d == sizeof bits);
    std::memcpy(&d, &bits, sizeof d);
    values.push_back(d);  // any bit pattern
    values.push_back(double(std::int64_t(bits % 20000000001) - 10000000000) / 100);  // money
    values.push_back(double(bits % 1000000) * std::pow(10.0, int(bits >> 40) % 40 - 20));
    values.push_back(double(float(d)));  // a Single widened
  }
  for (double v : values)
    for (int precision : {15, 7, 1, 17}) {
      EXPECT_EQ(FormatFloatG(v, precision, kIso), ReferenceG(v, precision, '.'))
          << v << " at " << precision;
      EXPECT_EQ(FormatFloatG(v, precision, comma), ReferenceG(v, precision, ','))
          << v << " at " << precision;
    }
}

TEST(Settings, ScopedSettingsRestoreThePreviousObject) {
  FormatSettings before = CurrentSettings();
  {
    ScopedSettings scope(kUs);
    EXPECT_EQ(CurrentSettings().ShortDateFormat, "m/d/yyyy");
  }
  EXPECT_EQ(CurrentSettings().ShortDateFormat, before.ShortDateFormat);
}

TEST(Settings, PlainLocaleGivesIsoForms) {
  const char* saved = std::getenv("LC_ALL");
  std::string keep = saved ? saved : "";
  setenv("LC_ALL", "C.UTF-8", 1);
  FormatSettings fs = ReadSystemSettings();
  if (saved)
    setenv("LC_ALL", keep.c_str(), 1);
  else
    unsetenv("LC_ALL");
  EXPECT_EQ(fs.ShortDateFormat, "yyyy/mm/dd");
  EXPECT_EQ(fs.DateSeparator, '-');
  EXPECT_EQ(fs.DecimalSeparator, '.');
  EXPECT_EQ(TextOf(Variant::Date(36526), fs), "2000-01-01");
}

// What a platform read of a locale is checked and completed the same way everywhere.
TEST(Settings, LocaleItemsCompletedOnePlace) {
  const FormatSettings iso = FormatSettings::Iso();
  const FormatSettings none = SettingsFromLocale({});
  EXPECT_EQ(TextOf(Variant::Double(1234.5), none), TextOf(Variant::Double(1234.5), iso));
  EXPECT_EQ(none.ThousandSeparator, ',');
  EXPECT_EQ(none.ShortDateFormat, iso.ShortDateFormat);
  EXPECT_EQ(none.TimeAMString, "AM");  // time items not read: the ISO designators

  TLocaleItems comma;
  comma.DecimalSeparator = ',';
  EXPECT_EQ(SettingsFromLocale(comma).ThousandSeparator, '.');  // missing: the other one
  comma.ThousandSeparator = ',';
  EXPECT_EQ(SettingsFromLocale(comma).ThousandSeparator, '.');  // equal: the other one
  comma.ThousandSeparator = ' ';
  EXPECT_EQ(SettingsFromLocale(comma).ThousandSeparator, ' ');

  TLocaleItems time;
  time.ShortDateFormat = "mm/yyyy";  // no day: not used, nor its separator
  time.DateSeparator = '.';
  time.LongTimeFormat = "hh:nn ampm";
  time.TimeSeparator = '.';
  time.TwelveHour = true;
  time.TimeRead = true;
  time.TimePMString = "pm";
  time.LongMonthNames[2] = "Maerz";
  const FormatSettings fs = SettingsFromLocale(time);
  EXPECT_EQ(fs.ShortDateFormat, iso.ShortDateFormat);
  EXPECT_EQ(fs.DateSeparator, iso.DateSeparator);
  EXPECT_EQ(fs.LongTimeFormat, "hh:nn ampm");
  EXPECT_EQ(fs.TimeSeparator, '.');
  EXPECT_EQ(fs.TimeAMString + fs.TimePMString, "AMPM");  // a 12-hour clock needs both
  EXPECT_EQ(fs.LongMonthNames[2], "Maerz");
  EXPECT_EQ(fs.LongMonthNames[3], "April");
  time.TwelveHour = false;
  time.LongTimeFormat = "HH";  // no hour letter of ours: not used
  const FormatSettings day = SettingsFromLocale(time);
  EXPECT_EQ(day.TimeAMString + "|" + day.TimePMString, "|pm");
  EXPECT_EQ(day.LongTimeFormat, iso.LongTimeFormat);
}

}  // namespace
