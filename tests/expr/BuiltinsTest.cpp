// The built-in functions, called with literal arguments that record which of them
// were evaluated, and in what order.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "expr/KvIParsBuiltins.h"

namespace {

// Arguments given as values; Get() records every read and fails like the evaluator
// for a missing one.
class LiteralArgs : public TBuiltinArgs {
 public:
  explicit LiteralArgs(std::vector<Variant> values) : values_(std::move(values)) {}
  int Count() const override { return static_cast<int>(values_.size()); }
  Variant Get(int index) override {
    reads_.push_back(index);
    if (index < 0 || index >= Count()) ThrowListIndex(index);
    return values_[static_cast<std::size_t>(index)];
  }
  const std::vector<int>& Reads() const { return reads_; }

 private:
  std::vector<Variant> values_;
  std::vector<int> reads_;
};

Variant S(const char* s) { return Variant::String(s); }
Variant D(double d) { return Variant::Double(d); }
Variant I(std::int32_t i) { return Variant::Integer(i); }
Variant B(bool b) { return Variant::Boolean(b); }
Variant Nul() { return Variant::Null(); }
Variant Dt(int y, int m, int d, int h = 0, int n = 0, int s = 0) {
  return Variant::Date(EncodeDate(y, m, d) + EncodeTime(h, n, s, 0));
}

Variant Call(const char* name, std::vector<Variant> values) {
  const int index = FindBuiltin(name);
  if (index < 0) throw std::logic_error(std::string("not built in: ") + name);
  LiteralArgs args(std::move(values));
  return CallBuiltin(index, args);
}

// The argument positions a call read, ending with the failing one if it failed.
std::vector<int> ReadsOf(const char* name, std::vector<Variant> values) {
  LiteralArgs args(std::move(values));
  try {
    CallBuiltin(FindBuiltin(name), args);
  } catch (const Exception&) {
  }
  return args.Reads();
}

// "Class: message" of the failure of a call, or "no failure".
std::string ErrorOf(const char* name, std::vector<Variant> values) {
  try {
    Call(name, std::move(values));
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message();
  }
  return "no failure";
}

::testing::AssertionResult Is(const Variant& actual, const Variant& expected) {
  if (actual.SameAs(expected)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "got " << VarKindName(actual.Kind()) << " '" << TextOf(actual) << "', expected "
         << VarKindName(expected.Kind()) << " '" << TextOf(expected) << "'";
}

const std::string kTypeCast = "EVariantTypeCastError: Invalid variant type conversion";
const std::string kInvalidOp = "EInvalidOp: Invalid floating point operation";

// A locale with a decimal comma and day-first dates.
FormatSettings CommaSettings() {
  FormatSettings fs = FormatSettings::Iso();
  fs.DecimalSeparator = ',';
  fs.ThousandSeparator = ' ';
  fs.DateSeparator = '.';
  fs.ShortDateFormat = "dd/mm/yyyy";
  return fs;
}

class Builtins : public ::testing::Test {
 protected:
  ScopedSettings iso_{FormatSettings::Iso()};
};

}  // namespace

TEST_F(Builtins, DispatchByNameInListOrder) {
  EXPECT_EQ(FindBuiltin("SUBSTR"), 0);
  EXPECT_EQ(FindBuiltin("substr"), 0);
  EXPECT_EQ(FindBuiltin("SubStr"), 0);
  EXPECT_EQ(FindBuiltin("IIF"), 42);
  EXPECT_EQ(FindBuiltin("second"), 57);
  for (const char* name : {"GETDATE", "NOW", "PI", "", "SUBST", "SUBSTRX", "SECONDS"}) {
    EXPECT_EQ(FindBuiltin(name), -1) << name;
  }
  LiteralArgs none({});
  EXPECT_THROW(CallBuiltin(58, none), EListError);
}

TEST_F(Builtins, ArgumentsAreReadInTheirOrderAndOnlyWhenUsed) {
  EXPECT_EQ(ErrorOf("SUBSTR", {S("abc"), D(2)}), "EListError: List index out of bounds (2)");
  EXPECT_EQ(ReadsOf("SUBSTR", {S("abc"), D(2), D(1)}), (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(ReadsOf("REPLACESTR", {S("a"), S("b"), S("c")}), (std::vector<int>{3}));
  EXPECT_EQ(ReadsOf("REPLACESTR", {S("a"), S("b"), S("c"), B(false), B(true)}),
            (std::vector<int>{3, 4, 2, 1, 0}));
  EXPECT_EQ(ReadsOf("PADL", {S("a"), D(3)}), (std::vector<int>{1, 0}));
  EXPECT_EQ(ReadsOf("PADR", {S("a"), D(3), S("*")}), (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(ReadsOf("POS", {S("a"), S("b")}), (std::vector<int>{1, 0}));
  EXPECT_EQ(ReadsOf("ISCONTAIN", {S("a")}), (std::vector<int>{1}));
  EXPECT_EQ(ReadsOf("ISSTARTSWITH", {S("a"), S("b")}), (std::vector<int>{0, 1}));
  EXPECT_EQ(ReadsOf("ISENDSWITH", {S("a")}), (std::vector<int>{0, 1}));
  EXPECT_EQ(ReadsOf("DATETIMEFROMSTRING", {S("a"), S("b")}), (std::vector<int>{3}));
  EXPECT_EQ(ReadsOf("DIV", {D(1)}), (std::vector<int>{0, 1}));
  EXPECT_EQ(ReadsOf("PERCENT", {D(1), D(2)}), (std::vector<int>{0, 1}));
  EXPECT_EQ(ReadsOf("MIN", {D(1), D(2), D(3)}), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(ReadsOf("MAX", {D(1), D(2), D(3)}), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(ReadsOf("AVG", {D(1), D(2), D(3)}), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(ReadsOf("COUNT", {D(1), D(2), D(3)}), (std::vector<int>{}));
  EXPECT_EQ(ReadsOf("UPPER", {S("a"), S("b")}), (std::vector<int>{0}));
  EXPECT_EQ(ReadsOf("COALESCE", {Nul(), S("x"), S("y")}), (std::vector<int>{0, 1}));
  // IIF evaluates only the branch it returns.
  EXPECT_EQ(ReadsOf("IIF", {B(true), S("a"), S("b")}), (std::vector<int>{0, 1}));
  EXPECT_EQ(ReadsOf("IIF", {B(false), S("a"), S("b")}), (std::vector<int>{0, 2}));
  EXPECT_EQ(ErrorOf("IIF", {B(false), S("a")}), "EListError: List index out of bounds (2)");
  EXPECT_TRUE(Is(Call("IIF", {B(true), S("a")}), S("a")));
  EXPECT_TRUE(Is(Call("IIF", {D(0), S("a"), I(5)}), I(5)));
}

TEST_F(Builtins, TextFunctions) {
  for (const char* name : {"SUBSTR", "SUBSTRING", "COPY"}) {
    EXPECT_TRUE(Is(Call(name, {S("abcdef"), D(2), D(3)}), S("bcd"))) << name;
  }
  EXPECT_TRUE(Is(Call("SUBSTR", {S("abcdef"), D(0), D(2)}), S("ab")));
  EXPECT_TRUE(Is(Call("SUBSTR", {S("abcdef"), D(-5), D(2)}), S("ab")));
  EXPECT_TRUE(Is(Call("SUBSTR", {S("abcdef"), D(7), D(2)}), S("")));
  EXPECT_TRUE(Is(Call("SUBSTR", {S("abcdef"), D(2), D(100)}), S("bcdef")));
  EXPECT_TRUE(Is(Call("SUBSTR", {S("abcdef"), D(2), D(0)}), S("")));
  EXPECT_TRUE(Is(Call("SUBSTR", {I(12345), D(2), D(2)}), S("23")));
  EXPECT_EQ(ErrorOf("SUBSTR", {S("abc"), Nul(), D(1)}), kTypeCast);

  const Variant text = S("Hello hello HELLO");
  EXPECT_TRUE(Is(Call("REPLACESTR", {text, S("hello"), S("bye"), B(false), B(true)}),
                 S("Hello bye HELLO")));
  EXPECT_TRUE(
      Is(Call("REPLACESTR", {text, S("hello"), S("bye"), B(true), B(true)}), S("bye bye bye")));
  EXPECT_TRUE(Is(Call("REPLACESTR", {text, S("hello"), S("bye"), B(true), B(false)}),
                 S("bye hello HELLO")));
  EXPECT_TRUE(Is(Call("REPLACESTR", {S("aXbxc"), S("x"), S("-"), B(true), B(true)}), S("a-b-c")));
  // The search never looks into inserted text, and resumes after a replacement.
  EXPECT_TRUE(Is(Call("REPLACESTR", {S("aaa"), S("a"), S("aa"), B(false), B(true)}), S("aaaaaa")));
  EXPECT_TRUE(Is(Call("REPLACESTR", {S("aaaa"), S("aa"), S("b"), B(false), B(true)}), S("bb")));
  EXPECT_TRUE(Is(Call("REPLACESTR", {S("abc"), S(""), S("x"), B(false), B(true)}), S("abc")));
  EXPECT_TRUE(Is(Call("REPLACESTR", {S(""), S("a"), S("x"), B(false), B(true)}), S("")));
  // Ignoring case folds the accented letters of the code page too (e acute, s caron),
  // but sharp s has no capital.
  EXPECT_TRUE(Is(
      Call("REPLACESTR", {S("Caf\xE9 CAF\xC9 \x9A\x8A"), S("caf\xE9"), S("tea"), B(true), B(true)}),
      S("tea tea \x9A\x8A")));
  EXPECT_TRUE(
      Is(Call("REPLACESTR", {S("\x9A\x8A"), S("\x8A"), S("x"), B(true), B(true)}), S("xx")));
  EXPECT_TRUE(Is(Call("REPLACESTR", {S("stra\xDF"
                                       "e"),
                                     S("STRASSE"), S("x"), B(true), B(true)}),
                 S("stra\xDF"
                   "e")));

  EXPECT_TRUE(Is(Call("PADL", {S("abc"), D(5)}), S("  abc")));
  EXPECT_TRUE(Is(Call("PADL", {S("abc"), D(2)}), S("ab")));
  EXPECT_TRUE(Is(Call("PADR", {S("7"), D(3), S("0x")}), S("700")));
  EXPECT_TRUE(Is(Call("PADR", {S("ab"), D(4)}), S("ab  ")));
  EXPECT_TRUE(Is(Call("PADL", {S("7"), D(3), S("")}), S("  7")));
  EXPECT_TRUE(Is(Call("PADL", {S("abc"), D(0)}), S("")));
  EXPECT_TRUE(Is(Call("PADR", {S("abc"), D(-2)}), S("")));

  EXPECT_TRUE(Is(Call("CHR", {D(65)}), S("A")));
  EXPECT_TRUE(Is(Call("CHR", {D(321)}), S("A")));
  EXPECT_TRUE(Is(Call("CHR", {D(233)}), S("\xE9")));
  EXPECT_EQ(ErrorOf("CHR", {S("x")}), kTypeCast);
  EXPECT_TRUE(Is(Call("UPPER", {S("abc xyz \xE9")}), S("ABC XYZ \xE9")));
  EXPECT_TRUE(Is(Call("LOWER", {S("ABC XYZ \xC9")}), S("abc xyz \xC9")));
  EXPECT_TRUE(Is(Call("TRIM", {S("\t\x01 ab c \r\n")}), S("ab c")));
  EXPECT_TRUE(Is(Call("TRIMLEFT", {S("\t\x01 ab c \r\n")}), S("ab c \r\n")));
  EXPECT_TRUE(Is(Call("TRIMRIGHT", {S("\t\x01 ab c \r\n")}), S("\t\x01 ab c")));
  EXPECT_TRUE(Is(Call("TRIM", {Nul()}), S("")));

  EXPECT_TRUE(Is(Call("POS", {S("b"), S("abcb")}), I(2)));
  EXPECT_TRUE(Is(Call("POS", {S("B"), S("abcb")}), I(0)));
  EXPECT_TRUE(Is(Call("POS", {S(""), S("abc")}), I(0)));
  EXPECT_TRUE(Is(Call("LENGTH", {S("abc")}), I(3)));
  EXPECT_TRUE(Is(Call("LENGTH", {Nul()}), I(0)));
  EXPECT_TRUE(Is(Call("LENGTH", {D(12.5)}), I(4)));
  EXPECT_TRUE(Is(Call("ORD", {S("A")}), I(65)));
  EXPECT_TRUE(Is(Call("ORD", {S("\xE9")}), I(233)));
  EXPECT_TRUE(Is(Call("ORD", {S("")}), I(0)));
}

TEST_F(Builtins, ConversionFunctions) {
  EXPECT_TRUE(Is(Call("STRTOFLOAT", {S("12.5")}), D(12.5)));
  EXPECT_EQ(ErrorOf("STRTOFLOAT", {S("abc")}),
            "EConvertError: 'abc' is not a valid floating point value");
  EXPECT_TRUE(Is(Call("VARTOSTR", {Nul()}), S("")));
  EXPECT_TRUE(Is(Call("VARTOSTR", {B(true)}), S("-1")));
  EXPECT_TRUE(Is(Call("FLOATTOSTR", {D(1.0 / 3)}), S("0.333333333333333")));
  EXPECT_EQ(ErrorOf("FLOATTOSTR", {S("abc")}), kTypeCast);
  EXPECT_TRUE(Is(Call("INTTOSTR", {D(-12.5)}), S("-12")));
  EXPECT_EQ(ErrorOf("INTTOSTR", {Nul()}), kTypeCast);
  {
    ScopedSettings comma(CommaSettings());
    EXPECT_TRUE(Is(Call("STRTOFLOAT", {S("12,5")}), D(12.5)));
    EXPECT_TRUE(Is(Call("VARTOSTR", {D(2.5)}), S("2,5")));
    EXPECT_TRUE(Is(Call("FLOATTOSTR", {D(-0.25)}), S("-0,25")));
  }

  EXPECT_TRUE(Is(Call("COALESCE", {Nul(), S(""), D(7)}), D(7)));
  EXPECT_TRUE(Is(Call("COALESCE", {Nul(), Nul()}), Nul()));
  EXPECT_TRUE(Is(Call("COALESCE", {Variant(), I(0)}), I(0)));

  EXPECT_TRUE(Is(Call("STRTOINT", {S("42")}), I(42)));
  EXPECT_TRUE(Is(Call("STRTOINT", {S("  -7")}), I(-7)));
  EXPECT_TRUE(Is(Call("STRTOINT", {S("$1F")}), I(31)));
  EXPECT_EQ(ErrorOf("STRTOINT", {S("4.5")}), "EConvertError: '4.5' is not a valid integer value");

  EXPECT_TRUE(Is(Call("STRTODATE", {S("2024-03-01")}), Dt(2024, 3, 1)));
  EXPECT_EQ(ErrorOf("STRTODATE", {S("3/1/2024")}), "EConvertError: '3/1/2024' is not a valid date");
  EXPECT_EQ(ErrorOf("STRTODATE", {S("2024-03-01 10:00")}),
            "EConvertError: '2024-03-01 10:00' is not a valid date");
  {
    ScopedSettings us(FormatSettings::UnitedStates());
    EXPECT_TRUE(Is(Call("STRTODATE", {S("3/1/2024")}), Dt(2024, 3, 1)));
  }

  EXPECT_TRUE(Is(
      Call("DATETIMEFROMSTRING", {S("05-Jan-2020 13:45"), S("DD-MMM-YYYY HH:NN"), S("-"), S(":")}),
      Dt(2020, 1, 5, 13, 45)));
  EXPECT_TRUE(Is(Call("DATETIMEFROMSTRING",
                      {S("2020-1-15"), S("YYYY-MM-DD"), Variant::WideString("-"), S(":")}),
                 Dt(2020, 1, 15)));
  // A separator argument that is not text counts as a blank, so "-" stays in the month.
  EXPECT_EQ(ErrorOf("DATETIMEFROMSTRING", {S("2020-1-15"), S("YYYY-MM-DD"), D(5), S(":")}),
            "EConvertError: '1-' is not a valid integer value");
}

TEST_F(Builtins, AggregateFunctions) {
  EXPECT_TRUE(Is(Call("MAX", {D(3), D(9)}), D(9)));
  // MAX starts from its first argument: negative values and texts work.
  EXPECT_TRUE(Is(Call("MAX", {D(-5), D(-3)}), D(-3)));
  EXPECT_TRUE(Is(Call("MAX", {D(-5)}), D(-5)));
  EXPECT_TRUE(Is(Call("MAX", {S("b"), S("c"), S("a")}), S("c")));
  EXPECT_TRUE(Is(Call("MAX", {S("abc")}), S("abc")));
  EXPECT_TRUE(Is(Call("MAX", {I(2), D(2)}), I(2)));
  EXPECT_TRUE(Is(Call("MAX", {Nul(), D(5)}), D(5)));
  EXPECT_TRUE(Is(Call("MAX", {D(5), Nul(), D(4)}), D(5)));
  EXPECT_EQ(ErrorOf("MAX", {S("abc"), D(1)}), kTypeCast);

  EXPECT_TRUE(Is(Call("MIN", {D(5), Nul(), D(7)}), D(7)));
  EXPECT_TRUE(Is(Call("MIN", {D(5), Nul()}), Nul()));
  EXPECT_TRUE(Is(Call("MIN", {D(5), D(-3), D(4)}), D(-3)));
  EXPECT_TRUE(Is(Call("MIN", {S("b"), S("a"), S("c")}), S("a")));
  EXPECT_TRUE(Is(Call("MIN", {I(2), D(2)}), I(2)));

  EXPECT_TRUE(Is(Call("SUM", {D(1), Nul()}), Nul()));
  EXPECT_TRUE(Is(Call("SUM", {D(1), D(2.5)}), D(3.5)));
  EXPECT_TRUE(Is(Call("SUM", {I(1), I(2)}), I(3)));
  EXPECT_EQ(ErrorOf("SUM", {S("abc")}), kTypeCast);
  EXPECT_TRUE(Is(Call("AVG", {D(1), D(2)}), D(1.5)));
  EXPECT_TRUE(Is(Call("AVG", {I(1), Nul()}), Nul()));
  // COUNT is the number of arguments.
  EXPECT_TRUE(Is(Call("COUNT", {D(4), D(5), D(6)}), I(3)));
  EXPECT_TRUE(Is(Call("COUNT", {Nul()}), I(1)));
}

TEST_F(Builtins, NumericFunctions) {
  const Variant frac = Call("FRAC", {D(-2.7)});
  EXPECT_EQ(frac.Kind(), VarKind::Double);
  EXPECT_NEAR(frac.AsDouble(), -0.7, 1e-12);
  EXPECT_TRUE(Is(Call("INT", {D(-2.7)}), D(-2)));
  EXPECT_TRUE(Is(Call("ROUND", {D(2.5)}), I(2)));
  EXPECT_TRUE(Is(Call("ROUND", {D(-2.5)}), I(-2)));
  EXPECT_TRUE(Is(Call("ROUND", {D(3.5)}), I(4)));
  EXPECT_TRUE(Is(Call("ROUND", {S("7.6")}), I(8)));
  EXPECT_EQ(ErrorOf("ROUND", {D(3e9)}), kInvalidOp);
  EXPECT_EQ(ErrorOf("ROUND", {Nul()}), kTypeCast);

  EXPECT_TRUE(Is(Call("DIV", {D(7), D(2)}), I(3)));
  EXPECT_TRUE(Is(Call("MOD", {D(-7), D(2)}), I(-1)));
  EXPECT_EQ(ErrorOf("DIV", {D(7), D(0)}), "EDivByZero: Division by zero");
  EXPECT_EQ(ErrorOf("MOD", {D(7), D(0)}), "EDivByZero: Division by zero");
  EXPECT_TRUE(Is(Call("PERCENT", {D(200), D(15)}), D(30)));

  EXPECT_TRUE(Is(Call("ABS", {I(-3)}), D(3)));
  EXPECT_TRUE(Is(Call("ABS", {S("-1.5")}), D(1.5)));
  EXPECT_EQ(ErrorOf("ABS", {S("abc")}), kTypeCast);
  EXPECT_TRUE(Is(Call("POWER", {D(2), D(10)}), D(1024)));
  EXPECT_DOUBLE_EQ(Call("POWER", {D(2), D(0.5)}).AsDouble(), std::sqrt(2.0));
  EXPECT_EQ(ErrorOf("POWER", {D(-8), D(1.0 / 3)}), kInvalidOp);
  EXPECT_DOUBLE_EQ(Call("EXP", {D(1)}).AsDouble(), std::exp(1.0));
  EXPECT_EQ(ErrorOf("EXP", {D(1000)}), "EOverflow: Floating point overflow");
  EXPECT_TRUE(Is(Call("LN", {D(1)}), D(0)));
  EXPECT_DOUBLE_EQ(Call("LN", {D(std::exp(2.0))}).AsDouble(), 2.0);
  EXPECT_TRUE(Is(Call("LOG", {D(1000)}), D(3)));
  for (const char* name : {"LN", "LOG"}) {
    EXPECT_EQ(ErrorOf(name, {D(0)}), "EZeroDivide: Floating point division by zero");
    EXPECT_EQ(ErrorOf(name, {D(-1)}), kInvalidOp);
  }
  EXPECT_TRUE(Is(Call("SQR", {D(-3)}), D(9)));
  EXPECT_EQ(ErrorOf("SQR", {D(1e200)}), "EOverflow: Floating point overflow");
  EXPECT_TRUE(Is(Call("SQRT", {D(16)}), D(4)));
  EXPECT_EQ(ErrorOf("SQRT", {D(-1)}), kInvalidOp);
}

// The seed starts at 0 in every process: a fresh process yields the same values.
TEST(BuiltinsDeathTest, RandomSequenceIsTheSameInEveryRun) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::vector<int> values;
        for (int i = 0; i < 6; ++i) values.push_back(Call("RANDOM", {D(1000)}).AsInt());
        std::exit(values == std::vector<int>{0, 31, 861, 202, 272, 671} ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(Builtins, RandomFollowsItsSeed) {
  // With n = -1 (all 32 bits set) the result reveals the new seed minus one.
  std::uint32_t seed = static_cast<std::uint32_t>(Call("RANDOM", {D(-1)}).AsInt()) + 1u;
  for (int i = 0; i < 50; ++i) {
    seed = seed * 134775813u + 1u;
    const Variant r = Call("RANDOM", {D(10)});
    ASSERT_EQ(r.Kind(), VarKind::Integer);
    EXPECT_EQ(r.AsInt(), static_cast<int>((std::uint64_t{seed} * 10u) >> 32));
    EXPECT_TRUE(r.AsInt() >= 0 && r.AsInt() < 10);
  }
  // A failing argument does not advance the seed.
  EXPECT_EQ(ErrorOf("RANDOM", {S("x")}), kTypeCast);
  seed = seed * 134775813u + 1u;
  EXPECT_EQ(Call("RANDOM", {D(1000)}).AsInt(),
            static_cast<int>((std::uint64_t{seed} * 1000u) >> 32));
}

TEST_F(Builtins, LogicAndTestFunctions) {
  EXPECT_TRUE(Is(Call("ISNULL", {Nul()}), B(true)));
  EXPECT_TRUE(Is(Call("ISNULL", {Variant()}), B(true)));
  EXPECT_TRUE(Is(Call("ISNULL", {S("")}), B(true)));
  EXPECT_TRUE(Is(Call("ISNULL", {S(" ")}), B(false)));
  EXPECT_TRUE(Is(Call("ISNULL", {D(0)}), B(false)));

  for (const char* yes : {"", "-12.5", " 42 ", "+", "007", ".5"}) {
    EXPECT_TRUE(Is(Call("ISNUMERIC", {S(yes)}), B(true))) << yes;
  }
  for (const char* no : {"1e5", "1.2.3", "4-2", "12,5", "abc", "1 2"}) {
    EXPECT_TRUE(Is(Call("ISNUMERIC", {S(no)}), B(false))) << no;
  }
  {
    ScopedSettings comma(CommaSettings());
    EXPECT_TRUE(Is(Call("ISNUMERIC", {S("-12,5")}), B(true)));
    EXPECT_TRUE(Is(Call("ISNUMERIC", {S("12.5")}), B(false)));
  }

  EXPECT_TRUE(Is(Call("ISALPHA", {S("abcXYZ")}), B(true)));
  EXPECT_TRUE(Is(Call("ISALPHA", {S("\xC9t\xE9\x8A\xFF\xDF")}), B(true)));
  for (const char* no : {"", "ab1", "a b", "\xD7", "\xF7", "\xA9"}) {
    EXPECT_TRUE(Is(Call("ISALPHA", {S(no)}), B(false))) << no;
  }

  EXPECT_TRUE(Is(Call("ISCONTAIN", {S("bc"), S("abc")}), B(true)));
  EXPECT_TRUE(Is(Call("ISCONTAIN", {S("B"), S("abc")}), B(false)));
  EXPECT_TRUE(Is(Call("ISCONTAIN", {S(""), S("abc")}), B(false)));
  EXPECT_TRUE(Is(Call("ISSTARTSWITH", {S(""), S("abc")}), B(true)));
  EXPECT_TRUE(Is(Call("ISSTARTSWITH", {S("ab"), S("abc")}), B(true)));
  EXPECT_TRUE(Is(Call("ISSTARTSWITH", {S("bc"), S("abc")}), B(false)));
  EXPECT_TRUE(Is(Call("ISENDSWITH", {S("bc"), S("abc")}), B(true)));
  EXPECT_TRUE(Is(Call("ISENDSWITH", {S("ab"), S("abc")}), B(false)));
  EXPECT_TRUE(Is(Call("ISENDSWITH", {S(""), S("abc")}), B(true)));
  EXPECT_TRUE(Is(Call("ISENDSWITH", {S("xabc"), S("abc")}), B(false)));
}

TEST_F(Builtins, DateFunctions) {
  const Variant march1 = Dt(2024, 3, 1, 13, 45, 30);
  EXPECT_TRUE(Is(Call("YEAR", {march1}), I(2024)));
  EXPECT_TRUE(Is(Call("MONTH", {march1}), I(3)));
  EXPECT_TRUE(Is(Call("DAY", {march1}), I(1)));
  EXPECT_TRUE(Is(Call("HOUR", {march1}), I(13)));
  EXPECT_TRUE(Is(Call("MINUTE", {march1}), I(45)));
  EXPECT_TRUE(Is(Call("SECOND", {march1}), I(30)));
  EXPECT_TRUE(Is(Call("DAY", {D(march1.AsDouble())}), I(1)));
  EXPECT_EQ(ErrorOf("YEAR", {Nul()}), kTypeCast);

  // A text is read as a date only, so its hour is 0.
  EXPECT_TRUE(Is(Call("YEAR", {S("2024-03-01")}), I(2024)));
  EXPECT_TRUE(Is(Call("HOUR", {S("2024-03-01")}), I(0)));
  EXPECT_EQ(ErrorOf("MONTH", {S("nonsense")}), "EConvertError: 'nonsense' is not a valid date");
  EXPECT_TRUE(Is(Call("DATETOSTR", {march1}), S("2024-03-01")));
  {
    ScopedSettings us(FormatSettings::UnitedStates());
    EXPECT_TRUE(Is(Call("MONTH", {S("3/1/2024")}), I(3)));
    EXPECT_TRUE(Is(Call("DAY", {S("3/1/2024")}), I(1)));
    EXPECT_TRUE(Is(Call("DATETOSTR", {march1}), S("3/1/2024")));
  }
  {
    ScopedSettings comma(CommaSettings());
    EXPECT_TRUE(Is(Call("DATETOSTR", {march1}), S("01.03.2024")));
  }

  const double day = EncodeDate(2024, 3, 1);
  EXPECT_TRUE(Is(Call("DATEPART", {Variant::Date(day + 0.75)}), D(day)));
  EXPECT_TRUE(Is(Call("TIMEPART", {Variant::Date(day + 0.75)}), D(0.75)));
  EXPECT_EQ(ErrorOf("DATEPART", {S("x")}), kTypeCast);
}

TEST_F(Builtins, TrimGivesAStringOfEveryKind) {
  // Nothing to cut: the same text, as a String also when it came as a WideString.
  EXPECT_TRUE(Is(Call("TRIM", {S("Oslo")}), S("Oslo")));
  EXPECT_TRUE(Is(Call("TRIMRIGHT", {Variant::WideString("Oslo")}), S("Oslo")));
  EXPECT_TRUE(Is(Call("TRIMLEFT", {Variant::WideString("  Oslo ")}), S("Oslo ")));
  EXPECT_TRUE(Is(Call("TRIM", {S("")}), S("")));
  EXPECT_TRUE(Is(Call("TRIM", {S(" \t ")}), S("")));
  // Only codes 0 to 32 are cut; a no-break space (160) stays.
  EXPECT_TRUE(Is(Call("TRIM", {S("\xA0x\xA0")}), S("\xA0x\xA0")));
  // A text longer than a short-string buffer, padded like a fixed-width field.
  const std::string city = "Saint-Petersburg-on-the-Neva";
  EXPECT_TRUE(
      Is(Call("TRIM", {Variant::String(city + std::string(20, ' '))}), Variant::String(city)));
  // Other kinds are trimmed in their text form.
  EXPECT_TRUE(Is(Call("TRIM", {D(2.5)}), S("2.5")));
  EXPECT_TRUE(Is(Call("TRIM", {B(true)}), S("-1")));
  EXPECT_TRUE(Is(Call("TRIM", {Variant()}), S("")));
}
