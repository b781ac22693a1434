// Value rules: class matrix, integer/real/currency rules, comparison, NOT, operand
// coercion, power and factorial.
#include <gtest/gtest.h>

#include <string>

#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "expr/KvIParsValues.h"

namespace {

class ValuesTest : public ::testing::Test {
 protected:
  ScopedSettings settings_{FormatSettings::Iso()};
};

Variant I(int v) { return Variant::Integer(v); }
Variant D(double v) { return Variant::Double(v); }
Variant S(const char* v) { return Variant::String(v); }

template <typename E, typename F>
std::string MessageOf(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  }
  return "<no exception>";
}

TEST_F(ValuesTest, ClassMatrixPicksTheRule) {
  // integer x integer: integer rule
  Variant r = VariantArithmetic(TArithOp::Add, I(2), I(3));
  EXPECT_EQ(r.Kind(), VarKind::Integer);
  EXPECT_EQ(r.AsInt(), 5);
  // integer x real and real x integer: real rule
  EXPECT_EQ(VariantArithmetic(TArithOp::Add, I(2), D(0.5)).Kind(), VarKind::Double);
  EXPECT_EQ(VariantArithmetic(TArithOp::Add, D(0.5), I(2)).Kind(), VarKind::Double);
  // integer x text: real rule both ways; text x text: concatenation
  r = VariantArithmetic(TArithOp::Add, I(2), S("3"));
  EXPECT_EQ(r.Kind(), VarKind::Double);
  EXPECT_DOUBLE_EQ(r.AsDouble(), 5.0);
  EXPECT_EQ(VariantArithmetic(TArithOp::Add, S("3"), I(2)).Kind(), VarKind::Double);
  r = VariantArithmetic(TArithOp::Add, S("3"), S("2"));
  EXPECT_EQ(r.Kind(), VarKind::String);
  EXPECT_EQ(r.AsString(), "32");
  // boolean x integer: integer rule; text x boolean: boolean class (real for add)
  r = VariantArithmetic(TArithOp::Add, Variant::Boolean(true), I(3));
  EXPECT_EQ(r.Kind(), VarKind::Integer);
  EXPECT_EQ(r.AsInt(), 2);
  r = VariantArithmetic(TArithOp::Add, S("1"), Variant::Boolean(true));
  EXPECT_EQ(r.Kind(), VarKind::Double);
  EXPECT_DOUBLE_EQ(r.AsDouble(), 0.0);
  // currency beside any number: currency rule
  r = VariantArithmetic(TArithOp::Add, Variant::CurrencyScaled(15000), I(2));
  EXPECT_EQ(r.Kind(), VarKind::Currency);
  EXPECT_EQ(r.AsCurrencyScaled(), 35000);
  r = VariantArithmetic(TArithOp::Divide, I(3), Variant::CurrencyScaled(20000));
  EXPECT_EQ(r.Kind(), VarKind::Double);
  EXPECT_DOUBLE_EQ(r.AsDouble(), 1.5);
  r = VariantArithmetic(TArithOp::Divide, Variant::CurrencyScaled(30000), I(2));
  EXPECT_EQ(r.Kind(), VarKind::Currency);
  EXPECT_EQ(r.AsCurrencyScaled(), 15000);
  // Null beside anything but Empty: Null, both ways
  EXPECT_TRUE(VariantArithmetic(TArithOp::Add, Variant::Null(), I(1)).IsNull());
  EXPECT_TRUE(VariantArithmetic(TArithOp::Multiply, S("x"), Variant::Null()).IsNull());
  // Empty on either side: invalid operation
  EXPECT_EQ(MessageOf<EVariantError>([] { VariantArithmetic(TArithOp::Add, Variant(), I(1)); }),
            "Invalid variant operation");
  EXPECT_EQ(MessageOf<EVariantError>(
                [] { VariantArithmetic(TArithOp::Add, Variant::Null(), Variant()); }),
            "Invalid variant operation");
}

TEST_F(ValuesTest, IntegerRuleOverflowAndDivision) {
  Variant r = VariantArithmetic(TArithOp::Add, I(2147483647), I(1));
  EXPECT_EQ(r.Kind(), VarKind::Double);
  EXPECT_DOUBLE_EQ(r.AsDouble(), 2147483648.0);
  r = VariantArithmetic(TArithOp::Multiply, I(65536), I(-65536));
  EXPECT_EQ(r.Kind(), VarKind::Double);
  EXPECT_DOUBLE_EQ(r.AsDouble(), -4294967296.0);
  r = VariantArithmetic(TArithOp::Divide, I(7), I(2));
  EXPECT_EQ(r.Kind(), VarKind::Double);
  EXPECT_DOUBLE_EQ(r.AsDouble(), 3.5);
  EXPECT_EQ(VariantArithmetic(TArithOp::IntDiv, I(-7), I(2)).AsInt(), -3);
  EXPECT_EQ(VariantArithmetic(TArithOp::Mod, I(-7), I(2)).AsInt(), -1);
  EXPECT_EQ(VariantArithmetic(TArithOp::IntDiv, D(7.6), I(2)).AsInt(), 4);  // 8 div 2
  // the one quotient beyond 32 bits does not trap
  r = VariantArithmetic(TArithOp::IntDiv, I(-2147483647 - 1), I(-1));
  EXPECT_DOUBLE_EQ(r.AsDouble(), 2147483648.0);
  EXPECT_EQ(VariantArithmetic(TArithOp::Mod, I(-2147483647 - 1), I(-1)).AsInt(), 0);
  EXPECT_EQ(MessageOf<EDivByZero>([] { VariantArithmetic(TArithOp::IntDiv, I(1), I(0)); }),
            "Division by zero");
  EXPECT_EQ(MessageOf<EDivByZero>([] { VariantArithmetic(TArithOp::Mod, I(1), D(0.2)); }),
            "Division by zero");
}

TEST_F(ValuesTest, RealRuleFailures) {
  EXPECT_EQ(MessageOf<EZeroDivide>([] { VariantArithmetic(TArithOp::Divide, D(1), I(0)); }),
            "Floating point division by zero");
  EXPECT_EQ(MessageOf<EInvalidOp>([] { VariantArithmetic(TArithOp::Divide, D(0), D(0)); }),
            "Invalid floating point operation");
  EXPECT_EQ(MessageOf<EOverflow>([] { VariantArithmetic(TArithOp::Multiply, D(1e300), D(1e10)); }),
            "Floating point overflow");
  // beyond double, though within the wider intermediate type
  EXPECT_EQ(MessageOf<EOverflow>([] { VariantArithmetic(TArithOp::Add, D(1.7e308), D(1.7e308)); }),
            "Floating point overflow");
}

TEST_F(ValuesTest, AndOrBitwiseOrLogical) {
  Variant r = VariantArithmetic(TArithOp::And, I(6), I(3));
  EXPECT_EQ(r.Kind(), VarKind::Integer);
  EXPECT_EQ(r.AsInt(), 2);
  EXPECT_EQ(VariantArithmetic(TArithOp::Or, I(6), I(3)).AsInt(), 7);
  r = VariantArithmetic(TArithOp::And, Variant::Boolean(true), Variant::Boolean(false));
  EXPECT_EQ(r.Kind(), VarKind::Boolean);
  EXPECT_FALSE(r.AsBool());
  r = VariantArithmetic(TArithOp::Or, S("true"), Variant::Boolean(false));
  EXPECT_EQ(r.Kind(), VarKind::Boolean);
  EXPECT_TRUE(r.AsBool());
  // Boolean with an integer is bitwise on -1/0
  r = VariantArithmetic(TArithOp::And, Variant::Boolean(true), I(6));
  EXPECT_EQ(r.Kind(), VarKind::Integer);
  EXPECT_EQ(r.AsInt(), 6);
  // two reals: integer rule after rounding
  EXPECT_EQ(VariantArithmetic(TArithOp::Or, D(2.4), D(4.6)).AsInt(), 7);
}

TEST_F(ValuesTest, DateArithmetic) {
  const Variant d1 = Variant::Date(36526.5);
  const Variant d2 = Variant::Date(36520.25);
  Variant r = VariantArithmetic(TArithOp::Subtract, d1, d2);
  EXPECT_EQ(r.Kind(), VarKind::Double);
  EXPECT_DOUBLE_EQ(r.AsDouble(), 6.25);
  r = VariantArithmetic(TArithOp::Subtract, d1, I(1));
  EXPECT_EQ(r.Kind(), VarKind::Date);
  EXPECT_DOUBLE_EQ(r.AsDouble(), 36525.5);
  r = VariantArithmetic(TArithOp::Add, I(1), d1);
  EXPECT_EQ(r.Kind(), VarKind::Date);
  EXPECT_DOUBLE_EQ(r.AsDouble(), 36527.5);
  r = VariantArithmetic(TArithOp::Multiply, d1, I(2));
  EXPECT_EQ(r.Kind(), VarKind::Double);
  EXPECT_EQ(VariantArithmetic(TArithOp::And, d1, I(1)).Kind(), VarKind::Integer);
}

TEST_F(ValuesTest, Comparisons) {
  EXPECT_EQ(CompareValues(S("10"), S("9")), TCompareResult::Less);
  EXPECT_EQ(CompareValues(D(10), D(9)), TCompareResult::Greater);
  EXPECT_EQ(CompareValues(S("10"), I(9)), TCompareResult::Greater);  // text read as number
  EXPECT_EQ(CompareValues(S("a"), S("A")), TCompareResult::Greater);
  EXPECT_EQ(CompareValues(S("ab"), S("abc")), TCompareResult::Less);
  EXPECT_EQ(CompareValues(S("\xE9"), S("z")), TCompareResult::Greater);  // unsigned bytes
  EXPECT_EQ(CompareValues(Variant::Null(), Variant::Null()), TCompareResult::Equal);
  EXPECT_EQ(CompareValues(Variant::Null(), I(-5)), TCompareResult::Less);
  EXPECT_EQ(CompareValues(S(""), Variant::Null()), TCompareResult::Greater);
  EXPECT_EQ(CompareValues(Variant::Boolean(false), Variant::Boolean(true)), TCompareResult::Less);
  EXPECT_EQ(CompareValues(Variant::Date(2.5), D(2.5)), TCompareResult::Equal);
  EXPECT_EQ(CompareValues(I(3), D(2.9)), TCompareResult::Greater);
  EXPECT_EQ(MessageOf<EVariantError>([] { CompareValues(S("abc"), I(1)); }),
            "Invalid variant type conversion");
  EXPECT_EQ(MessageOf<EVariantError>([] { CompareValues(Variant(), Variant()); }),
            "Invalid variant operation");
  EXPECT_EQ(MessageOf<EVariantError>([] { CompareValues(I(1), Variant()); }),
            "Invalid variant operation");
}

TEST_F(ValuesTest, NotOfEachKind) {
  Variant r = VariantNot(I(0));
  EXPECT_EQ(r.Kind(), VarKind::Integer);
  EXPECT_EQ(r.AsInt(), -1);
  EXPECT_EQ(VariantNot(D(5.0)).AsInt(), -6);
  EXPECT_EQ(VariantNot(S("2")).AsInt(), -3);
  r = VariantNot(Variant::Boolean(true));
  EXPECT_EQ(r.Kind(), VarKind::Boolean);
  EXPECT_FALSE(r.AsBool());
  EXPECT_TRUE(VariantNot(Variant::Null()).IsNull());
  EXPECT_EQ(MessageOf<EVariantError>([] { VariantNot(Variant()); }), "Invalid variant operation");
}

TEST_F(ValuesTest, OperandCoercion) {
  Variant r = ArithmeticOperand(S("1,234"));
  EXPECT_EQ(r.Kind(), VarKind::String);
  EXPECT_EQ(r.AsString(), "1234");
  EXPECT_EQ(ArithmeticOperand(S("$1,000.5")).AsString(), "1000.5");
  EXPECT_EQ(ArithmeticOperand(S(" -2.5e3")).AsString(), " -2.5e3");
  EXPECT_EQ(ArithmeticOperand(D(5)).AsString(), "5");
  // not a number: 0
  r = ArithmeticOperand(S("abc"));
  EXPECT_EQ(r.Kind(), VarKind::Integer);
  EXPECT_EQ(r.AsInt(), 0);
  EXPECT_EQ(ArithmeticOperand(S("1.2.3")).AsInt(), 0);
  EXPECT_EQ(ArithmeticOperand(S("1e")).AsInt(), 0);
  EXPECT_EQ(ArithmeticOperand(S("")).AsInt(), 0);
  EXPECT_EQ(ArithmeticOperand(Variant::Null()).AsInt(), 0);
  EXPECT_EQ(ArithmeticOperand(Variant()).AsInt(), 0);
  // A date with a day keeps its kind; the time-less day 0 ("1899-12-30") too.
  r = ArithmeticOperand(Variant::Date(36526.5));
  EXPECT_EQ(r.Kind(), VarKind::Date);
  EXPECT_DOUBLE_EQ(r.AsDouble(), 36526.5);
  // Booleans read "-1"
  EXPECT_EQ(ArithmeticOperand(Variant::Boolean(true)).AsString(), "-1");
}

TEST_F(ValuesTest, OperandCoercionUnderACommaLocale) {
  FormatSettings fs = FormatSettings::Iso();
  fs.DecimalSeparator = ',';
  fs.ThousandSeparator = '.';
  fs.CurrencyString = "EUR";
  ScopedSettings scoped(fs);
  // The decimal comma survives: 3,5 stays a number and reads as 3.5.
  Variant r = ArithmeticOperand(D(3.5));
  EXPECT_EQ(r.AsString(), "3,5");
  EXPECT_DOUBLE_EQ(ToReal(r), 3.5);
  EXPECT_EQ(ArithmeticOperand(S("1.234,5EUR")).AsString(), "1234,5");
  EXPECT_EQ(ArithmeticOperand(S("$7")).AsString(), "7");  // no EUR in it: the "$" goes
}

TEST_F(ValuesTest, PowerRules) {
  EXPECT_EQ(Power(0, 0), 1.0);
  EXPECT_EQ(Power(0, 5), 0.0);
  EXPECT_EQ(Power(2, -1), 0.5);
  EXPECT_EQ(Power(2, 10), 1024.0);
  EXPECT_EQ(Power(-2, 3), -8.0);
  EXPECT_NEAR(Power(2, 0.5), 1.4142135623730951, 1e-15);
  EXPECT_EQ(Power(1, 2147483647.0), 1.0);
  EXPECT_EQ(MessageOf<EInvalidOp>([] { Power(-2, 0.5); }), "Invalid floating point operation");
  EXPECT_EQ(MessageOf<EZeroDivide>([] { Power(0, -1); }), "Floating point division by zero");
  EXPECT_EQ(MessageOf<EZeroDivide>([] { Power(0, -0.5); }), "Floating point division by zero");
  EXPECT_EQ(MessageOf<EOverflow>([] { Power(10, 400); }), "Floating point overflow");
  EXPECT_EQ(MessageOf<EOverflow>([] { Power(10, 400.5); }), "Floating point overflow");
  EXPECT_EQ(Power(10, -400), 0.0);
}

TEST_F(ValuesTest, FactorialLimits) {
  EXPECT_EQ(Factorial(0).AsInt(), 1);
  EXPECT_EQ(Factorial(1).AsInt(), 1);
  EXPECT_EQ(Factorial(-3).AsInt(), -3);
  Variant r = Factorial(12);
  EXPECT_EQ(r.Kind(), VarKind::Integer);
  EXPECT_EQ(r.AsInt(), 479001600);
  r = Factorial(13);
  EXPECT_EQ(r.Kind(), VarKind::Double);
  EXPECT_DOUBLE_EQ(r.AsDouble(), 6227020800.0);
  EXPECT_GT(Factorial(170).AsDouble(), 7.25e306);
  EXPECT_EQ(MessageOf<EOverflow>([] { Factorial(171); }), "Floating point overflow");
  EXPECT_EQ(MessageOf<EOverflow>([] { Factorial(2147483647); }), "Floating point overflow");
}

TEST_F(ValuesTest, ConversionsUseTheConversionModule) {
  EXPECT_EQ(ToInteger(D(2.5)), 2);
  EXPECT_EQ(ToInteger(D(3.5)), 4);
  EXPECT_EQ(ToInteger(S("12")), 12);
  EXPECT_DOUBLE_EQ(ToReal(Variant::CurrencyScaled(12345)), 1.2345);
  EXPECT_TRUE(ToBoolean(S("TRUE")));
  EXPECT_EQ(MessageOf<EVariantError>([] { ToReal(Variant::Null()); }),
            "Invalid variant type conversion");
  EXPECT_EQ(MessageOf<EInvalidOp>([] { ToInteger(D(3e9)); }), "Invalid floating point operation");
}

}  // namespace
