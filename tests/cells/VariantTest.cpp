#include <gtest/gtest.h>

#include "cells/KvConvert.h"
#include "cells/KvSettings.h"
#include "cells/KvVariant.h"

namespace {

const FormatSettings kIso = FormatSettings::Iso();
const FormatSettings kUs = FormatSettings::UnitedStates();

FormatSettings German() {
  FormatSettings fs;
  fs.DecimalSeparator = ',';
  fs.ThousandSeparator = '.';
  fs.DateSeparator = '.';
  fs.ShortDateFormat = "dd/mm/yyyy";
  return fs;
}

TEST(TextOf, NumbersFollowThePrintfGFormsAndTheDecimalSeparator) {
  EXPECT_EQ(TextOf(Variant::Double(3.5), kIso), "3.5");
  EXPECT_EQ(TextOf(Variant::Double(1e20), kIso), "1E+20");
  EXPECT_EQ(TextOf(Variant::Double(0.1), kIso), "0.1");
  EXPECT_EQ(TextOf(Variant::Double(-123.45), kIso), "-123.45");
  EXPECT_EQ(TextOf(Variant::Double(4294967295.0), kIso), "4294967295");
  EXPECT_EQ(TextOf(Variant::Double(1.0 / 3.0), kIso), "0.333333333333333");
  EXPECT_EQ(TextOf(Variant::Double(1e-5), kIso), "1E-05");
  EXPECT_EQ(TextOf(Variant::Single(0.1f), kIso), "0.1");
  EXPECT_EQ(TextOf(Variant::Double(3.5), German()), "3,5");
  EXPECT_EQ(TextOf(Variant::Integer(-42), German()), "-42");
  EXPECT_EQ(TextOf(Variant::SmallInt(-7), kIso), "-7");
  EXPECT_EQ(TextOf(Variant::Byte(255), kIso), "255");
  EXPECT_EQ(TextOf(Variant::Integer(1234567), kUs), "1234567");  // no grouping
}

TEST(TextOf, OtherKinds) {
  EXPECT_EQ(TextOf(Variant::Null(), kIso), "");
  EXPECT_EQ(TextOf(Variant(), kIso), "");
  EXPECT_EQ(TextOf(Variant::Boolean(true), kIso), "-1");
  EXPECT_EQ(TextOf(Variant::Boolean(false), kIso), "0");
  EXPECT_EQ(TextOf(Variant::String("ab c "), kIso), "ab c ");
  EXPECT_EQ(TextOf(Variant::WideString("wide"), kIso), "wide");
  EXPECT_EQ(TextOf(Variant::CurrencyScaled(12345000), kIso), "1234.5");
  EXPECT_EQ(TextOf(Variant::CurrencyScaled(-10000), kIso), "-1");
  EXPECT_EQ(TextOf(Variant::CurrencyScaled(1), German()), "0,0001");
}

TEST(TextOf, DatesUseTheShortDateAndTimeForms) {
  Variant jan1 = Variant::Date(36526);  // 2000-01-01
  EXPECT_EQ(TextOf(jan1, kIso), "2000-01-01");
  EXPECT_EQ(TextOf(jan1, kUs), "1/1/2000");
  EXPECT_EQ(TextOf(jan1, German()), "01.01.2000");
  Variant noon = Variant::Date(0.5);  // day 0: the time alone
  EXPECT_EQ(TextOf(noon, kIso), "12:00:00");
  EXPECT_EQ(TextOf(noon, kUs), "12:00:00 PM");
  Variant both = Variant::Date(EncodeDate(2000, 12, 31) + EncodeTime(13, 5, 0, 0));
  EXPECT_EQ(TextOf(both, kIso), "2000-12-31 13:05:00");
  EXPECT_EQ(TextOf(both, kUs), "12/31/2000 1:05:00 PM");
  EXPECT_EQ(TextOf(Variant::Date(EncodeTime(0, 30, 15, 0)), kUs), "12:30:15 AM");
}

TEST(Variant, CopiesAreIndependentValues) {
  Variant a = Variant::String(std::string(100, 'x'));
  Variant b = a;
  a = Variant::Integer(5);
  EXPECT_EQ(b.AsString(), std::string(100, 'x'));
  EXPECT_EQ(a.AsInt(), 5);
  EXPECT_TRUE(Variant::Null().IsNull());
  EXPECT_TRUE(Variant().IsEmpty());
}

}  // namespace
