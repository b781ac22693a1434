#include <gtest/gtest.h>

#include <cmath>

#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
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

}  // namespace
