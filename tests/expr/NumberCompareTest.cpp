// Comparison of numbers of every kind with each other, and AND/OR of Booleans: the
// values themselves decide, exactly as after converting both through the settings.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "expr/KvIParsValues.h"

namespace {

// The order of two reals, NaN being equal to everything.
TCompareResult RealOrder(double a, double b) {
  if (a < b) return TCompareResult::Less;
  if (b < a) return TCompareResult::Greater;
  return TCompareResult::Equal;
}

TEST(NumberCompare, EveryNumberKindAgainstEveryOther) {
  ScopedSettings iso(FormatSettings::Iso());
  const std::vector<Variant> values = {Variant::SmallInt(-32768),
                                       Variant::SmallInt(7),
                                       Variant::Byte(0),
                                       Variant::Byte(255),
                                       Variant::Integer(-2147483647 - 1),
                                       Variant::Integer(7),
                                       Variant::Integer(2147483647),
                                       Variant::Single(0.1f),
                                       Variant::Single(-7.5f),
                                       Variant::Double(0.1),
                                       Variant::Double(7),
                                       Variant::Double(-1e308),
                                       Variant::Double(std::nan("")),
                                       Variant::Date(7),
                                       Variant::Date(-1.25),
                                       Variant::Date(45351.999),
                                       Variant::Boolean(true),
                                       Variant::Boolean(false),
                                       Variant::CurrencyScaled(70000),
                                       Variant::CurrencyScaled(-12345)};
  int compared = 0;
  for (const Variant& a : values) {
    for (const Variant& b : values) {
      const bool currency = a.Kind() == VarKind::Currency || b.Kind() == VarKind::Currency;
      const bool dated = a.Kind() == VarKind::Date || b.Kind() == VarKind::Date;
      if (currency && !dated) continue;  // the currency rule, scaled amounts
      // Two Booleans: the Boolean class, false before true.
      if (a.Kind() == VarKind::Boolean && b.Kind() == VarKind::Boolean) continue;
      // Reals through the conversion module, or integers when both are ordinal or
      // Boolean.
      const bool integral = !dated && a.Kind() != VarKind::Single && a.Kind() != VarKind::Double &&
                            b.Kind() != VarKind::Single && b.Kind() != VarKind::Double;
      const TCompareResult expected =
          integral
              ? RealOrder(VarToInteger(a, CurrentSettings()), VarToInteger(b, CurrentSettings()))
              : RealOrder(VarToReal(a, CurrentSettings()), VarToReal(b, CurrentSettings()));
      EXPECT_EQ(CompareValues(a, b), expected)
          << VarKindName(a.Kind()) << " " << TextOf(a) << " vs " << VarKindName(b.Kind()) << " "
          << TextOf(b);
      ++compared;
    }
  }
  EXPECT_GT(compared, 300);
  EXPECT_EQ(CompareValues(Variant::Boolean(false), Variant::Boolean(true)), TCompareResult::Less);

  // A few by hand: a Single is its widened value, a Boolean true is -1, NaN is equal.
  EXPECT_EQ(CompareValues(Variant::Single(0.1f), Variant::Double(0.1)), TCompareResult::Greater);
  EXPECT_EQ(CompareValues(Variant::Boolean(true), Variant::Integer(0)), TCompareResult::Less);
  EXPECT_EQ(CompareValues(Variant::Boolean(true), Variant::Double(-1)), TCompareResult::Equal);
  EXPECT_EQ(CompareValues(Variant::Double(std::nan("")), Variant::Integer(3)),
            TCompareResult::Equal);
  EXPECT_EQ(CompareValues(Variant::Byte(255), Variant::SmallInt(-1)), TCompareResult::Greater);
  EXPECT_EQ(CompareValues(Variant::Date(7.5), Variant::CurrencyScaled(75000)),
            TCompareResult::Equal);
  EXPECT_EQ(CompareValues(Variant::Integer(2000), Variant::Double(2000)), TCompareResult::Equal);
  // A text beside a number still goes through the settings.
  FormatSettings comma = FormatSettings::Iso();
  comma.DecimalSeparator = ',';
  comma.ThousandSeparator = '.';
  ScopedSettings scoped(comma);
  EXPECT_EQ(CompareValues(Variant::String("2,5"), Variant::Double(2.4)), TCompareResult::Greater);
}

TEST(NumberCompare, AndOrOfBooleans) {
  ScopedSettings iso(FormatSettings::Iso());
  const Variant t = Variant::Boolean(true), f = Variant::Boolean(false);
  for (const Variant& a : {t, f}) {
    for (const Variant& b : {t, f}) {
      const Variant andResult = VariantArithmetic(TArithOp::And, a, b);
      const Variant orResult = VariantArithmetic(TArithOp::Or, a, b);
      EXPECT_EQ(andResult.Kind(), VarKind::Boolean);
      EXPECT_EQ(orResult.Kind(), VarKind::Boolean);
      EXPECT_EQ(andResult.AsBool(), a.AsBool() && b.AsBool());
      EXPECT_EQ(orResult.AsBool(), a.AsBool() || b.AsBool());
    }
  }
  // A Boolean beside a text reads the text, which may fail; beside a number the
  // integer rule applies.
  EXPECT_TRUE(VariantArithmetic(TArithOp::And, t, Variant::String("True")).AsBool());
  EXPECT_FALSE(VariantArithmetic(TArithOp::Or, f, Variant::String("false")).AsBool());
  EXPECT_THROW(VariantArithmetic(TArithOp::And, t, Variant::String("maybe")), Exception);
  const Variant mixed = VariantArithmetic(TArithOp::And, t, Variant::Integer(6));
  EXPECT_EQ(mixed.Kind(), VarKind::Integer);
  EXPECT_EQ(mixed.AsInt(), 6);
  // Subtraction of two Booleans is still arithmetic: -1 - 0.
  const Variant diff = VariantArithmetic(TArithOp::Subtract, t, f);
  EXPECT_EQ(TextOf(diff), "-1");
}

}  // namespace
