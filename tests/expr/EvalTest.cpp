// Evaluator: literals, names, the operator path and the dispatch to built-in functions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "expr/KvIParsEval.h"

namespace {

// Records every name it is asked about and answers from a small table.
class RecordingOwner : public TExpOwner {
 public:
  struct Call {
    std::string eval;
    std::string value;  // provisional value on arrival
    bool isChild;
    TEvalArgs args;
  };
  std::vector<Call> calls;
  std::vector<std::pair<std::string, Variant>> answers;

  void ResolveNodeName(const std::string& eval, const TEvalArgs& args, bool isChild,
                       Variant& value) override {
    calls.push_back(Call{eval, TextOf(value), isChild, args});
    for (const auto& [name, v] : answers) {
      if (name == eval) value = v;
    }
  }
};

class EvalTest : public ::testing::Test {
 protected:
  ScopedSettings settings_{FormatSettings::Iso()};
  RecordingOwner owner_;

  Variant Eval(const std::string& text, TExpOwner* owner = nullptr) {
    auto tree = ParseExpression(text, owner);
    return Evaluate(*tree->Root);
  }
  Variant EvalOwned(const std::string& text) { return Eval(text, &owner_); }

  template <typename E = Exception>
  std::string ErrorOf(const std::string& text, TExpOwner* owner = nullptr) {
    try {
      Eval(text, owner);
    } catch (const E& e) {
      return e.Message();
    }
    return "<no exception>";
  }
};

#define EXPECT_VALUE(v, kind, text)             \
  do {                                          \
    const Variant v_ = (v);                     \
    EXPECT_STREQ(VarKindName(v_.Kind()), kind); \
    EXPECT_EQ(TextOf(v_), text);                \
  } while (0)

TEST_F(EvalTest, Literals) {
  EXPECT_TRUE(Eval("").IsNull());
  EXPECT_VALUE(Eval("3"), "Double", "3");
  EXPECT_VALUE(Eval("2.50"), "Double", "2.5");
  EXPECT_VALUE(Eval("."), "Double", "0");
  EXPECT_VALUE(Eval("1.2.3"), "Double", "12");
  EXPECT_VALUE(Eval("3.14.15"), "Double", "314");
  EXPECT_VALUE(Eval("(5)"), "Double", "5");
}

TEST_F(EvalTest, HugeLiteralOverflows) {
  EXPECT_EQ(ErrorOf<EOverflow>("1" + std::string(400, '0')), "Floating point overflow");
  EXPECT_VALUE(Eval("0." + std::string(400, '0') + "1"), "Double", "0");
}

TEST_F(EvalTest, PlusJoinsTextsAndAddsNumbers) {
  EXPECT_VALUE(Eval("2 + 3"), "Double", "5");
  EXPECT_VALUE(Eval("'ab' + 5"), "String", "'ab'5");  // the quotes are part of the name
  owner_.answers = {{"A", Variant::String("ab")}, {"B", Variant::String("cd")},
                    {"I", Variant::Integer(2)},   {"J", Variant::Integer(3)},
                    {"N", Variant::Null()},       {"E", Variant()}};
  EXPECT_VALUE(EvalOwned("A + 5"), "String", "ab5");
  EXPECT_VALUE(EvalOwned("A + B"), "String", "abcd");
  EXPECT_VALUE(EvalOwned("A + N"), "String", "ab");
  EXPECT_VALUE(EvalOwned("E + A"), "String", "ab");
  EXPECT_VALUE(EvalOwned("I + J"), "Integer", "5");
  EXPECT_TRUE(EvalOwned("I + N").IsNull());
  EXPECT_EQ(ErrorOf("I + E", &owner_), "Invalid variant operation");
  EXPECT_EQ(ErrorOf("N + E", &owner_), "Invalid variant operation");
}

TEST_F(EvalTest, ArithmeticCoercesOperands) {
  EXPECT_VALUE(Eval("5 - 3"), "Double", "2");
  EXPECT_VALUE(Eval("10-4-3"), "Double", "9");
  EXPECT_VALUE(Eval("10-4+3"), "Double", "9");
  EXPECT_VALUE(Eval("2*3+4"), "Double", "10");
  EXPECT_VALUE(Eval("2+3*4"), "Double", "14");
  EXPECT_VALUE(Eval("-5"), "Double", "-5");
  EXPECT_VALUE(Eval("7/2"), "Double", "3.5");
  owner_.answers = {{"C", Variant::String("1,234")},
                    {"X", Variant::String("x")},
                    {"N", Variant::Null()},
                    {"M", Variant::String("$5")},
                    {"I", Variant::Integer(6)}};
  EXPECT_VALUE(EvalOwned("C * 1"), "Double", "1234");
  EXPECT_VALUE(EvalOwned("X - 1"), "Double", "-1");
  EXPECT_VALUE(EvalOwned("N - 1"), "Double", "-1");
  EXPECT_VALUE(EvalOwned("M * 2"), "Double", "10");
  EXPECT_VALUE(EvalOwned("I - I"), "Double", "0");
  EXPECT_VALUE(Eval("abc * 2"), "Double", "0");
  EXPECT_EQ(ErrorOf<EZeroDivide>("1/0"), "Floating point division by zero");
}

TEST_F(EvalTest, DateArithmetic) {
  owner_.answers = {{"D1", Variant::Date(36526.5)}, {"D2", Variant::Date(36520.0)}};
  EXPECT_VALUE(EvalOwned("D1 - D2"), "Double", "6.5");
  const Variant r = EvalOwned("D1 - 1");
  EXPECT_EQ(r.Kind(), VarKind::Date);
  EXPECT_DOUBLE_EQ(r.AsDouble(), 36525.5);
  const Variant s = EvalOwned("D2 + 1");
  EXPECT_EQ(s.Kind(), VarKind::Date);
  EXPECT_DOUBLE_EQ(s.AsDouble(), 36521.0);
}

TEST_F(EvalTest, Comparisons) {
  owner_.answers = {{"T10", Variant::String("10")}, {"T9", Variant::String("9")},
                    {"N", Variant::Null()},         {"LA", Variant::String("a")},
                    {"UA", Variant::String("A")},   {"ABC", Variant::String("abc")}};
  EXPECT_VALUE(EvalOwned("T10 < T9"), "Boolean", "-1");
  EXPECT_VALUE(Eval("10 < 9"), "Boolean", "0");
  EXPECT_VALUE(Eval("10 >= 9"), "Boolean", "-1");
  EXPECT_VALUE(Eval("10 <= 10"), "Boolean", "-1");
  EXPECT_VALUE(Eval("1 <> 2"), "Boolean", "-1");
  EXPECT_VALUE(Eval("1 != 1"), "Boolean", "0");
  EXPECT_VALUE(EvalOwned("N = N"), "Boolean", "-1");
  EXPECT_VALUE(EvalOwned("N < 0"), "Boolean", "-1");
  EXPECT_VALUE(EvalOwned("LA = UA"), "Boolean", "0");
  EXPECT_EQ(ErrorOf("ABC = 1", &owner_), "Invalid variant type conversion");
  // comparisons bind more tightly than arithmetic
  EXPECT_VALUE(Eval("1 = 1 + 1"), "Double", "0");  // (1 = 1) + 1: -1 + 1
}

TEST_F(EvalTest, LogicalOperators) {
  EXPECT_VALUE(Eval("(1=1)AND(2=2)"), "Boolean", "-1");
  EXPECT_VALUE(Eval("(1=1)and(2=3)"), "Boolean", "0");
  EXPECT_VALUE(Eval("(1=2)Or(2=2)"), "Boolean", "-1");
  EXPECT_VALUE(Eval("6 AND(3)"), "Integer", "2");
  EXPECT_VALUE(Eval("6 OR(3)"), "Integer", "7");
  EXPECT_VALUE(Eval("NOT(0)"), "Integer", "-1");
  EXPECT_VALUE(Eval("NOT(1=1)"), "Boolean", "0");
  // both operands are evaluated even when the left one decides
  EvalOwned("(1=2)AND(X)");
  EvalOwned("(1=1)OR(Y)");
  ASSERT_EQ(owner_.calls.size(), 2u);
  EXPECT_EQ(owner_.calls[0].eval, "X");
  EXPECT_EQ(owner_.calls[1].eval, "Y");
}

TEST_F(EvalTest, PowerAndFactorial) {
  EXPECT_VALUE(Eval("0 ^ 0"), "Double", "1");
  EXPECT_VALUE(Eval("2 ^ (0 - 1)"), "Double", "0.5");
  EXPECT_VALUE(Eval("2 ^ 0.5"), "Double", "1.4142135623731");
  EXPECT_VALUE(Eval("2^3^2"), "Double", "512");
  EXPECT_EQ(ErrorOf<EInvalidOp>("(0-8) ^ 0.5"), "Invalid floating point operation");
  EXPECT_VALUE(Eval("5!"), "Integer", "120");
  EXPECT_VALUE(Eval("0!"), "Integer", "1");
  EXPECT_VALUE(Eval("(0-3)!"), "Integer", "-3");
  EXPECT_VALUE(Eval("13!"), "Double", "6227020800");
  EXPECT_VALUE(Eval("2.5!"), "Integer", "2");  // rounded half to even
  EXPECT_EQ(ErrorOf<EOverflow>("171!"), "Floating point overflow");
  EXPECT_EQ(ErrorOf<EInvalidOp>("3000000000!"), "Invalid floating point operation");
}

TEST_F(EvalTest, SyntaxTreeFaults) {
  EXPECT_EQ(ErrorOf<EKvIParseException>("1!2"), "Calculate error: syntax tree fault.");
  EXPECT_EQ(ErrorOf<EKvIParseException>("X *- 1"), "Calculate error: syntax tree fault.");
  EXPECT_EQ(ErrorOf<EKvIParseException>("+"), "Calculate error: syntax tree fault.");
  // raised before any operand is evaluated
  EXPECT_EQ(ErrorOf<EKvIParseException>("(A) *- (B)", &owner_),
            "Calculate error: syntax tree fault.");
  EXPECT_TRUE(owner_.calls.empty());
  // a lone parenthesis, comma or operator run outside the table is its own text
  EXPECT_VALUE(Eval("*-"), "String", "*-");
  EXPECT_VALUE(Eval("((<<))"), "String", "<<");
  EXPECT_VALUE(Eval("("), "String", "(");
  EXPECT_VALUE(Eval(","), "String", ",");
}

TEST_F(EvalTest, NamesGoToTheOwner) {
  EXPECT_VALUE(EvalOwned("X"), "String", "X");
  EXPECT_VALUE(EvalOwned("[Amount]"), "String", "Amount");
  EvalOwned("X + 1");
  ASSERT_EQ(owner_.calls.size(), 3u);
  EXPECT_EQ(owner_.calls[0].eval, "X");
  EXPECT_FALSE(owner_.calls[0].isChild);
  EXPECT_EQ(owner_.calls[1].eval, "[Amount]");
  EXPECT_EQ(owner_.calls[1].value, "Amount");
  EXPECT_TRUE(owner_.calls[2].isChild);
  // without an owner the name without brackets is the value
  EXPECT_VALUE(Eval("[Last Name]"), "String", "Last Name");
  EXPECT_VALUE(Eval("[x"), "String", "x");
  EXPECT_VALUE(Eval("'abc'"), "String", "'abc'");
}

TEST_F(EvalTest, CallsThatNoBuiltInClaims) {
  owner_.calls.clear();
  EvalOwned("MYFUNC(1, 'a' + 2)");
  ASSERT_EQ(owner_.calls.size(), 2u);  // the argument 'a' first, then MYFUNC
  const auto& call = owner_.calls[1];
  EXPECT_EQ(call.eval, "MYFUNC");
  EXPECT_FALSE(call.isChild);
  EXPECT_VALUE(call.args[0], "Double", "1");
  EXPECT_VALUE(call.args[1], "String", "'a'2");
  for (int i = 2; i < kMaxCallArgs; ++i) EXPECT_TRUE(call.args[i].IsEmpty());
  // more arguments than slots
  EXPECT_EQ(ErrorOf<EKvIParseException>("F(1,2,3,4,5,6,7,8,9,10,11,12)", &owner_),
            "Function \"F\" called with more than 11 arguments.");
  EXPECT_VALUE(Eval("F(1,2,3,4,5,6,7,8,9,10,11)"), "String", "F");
}

TEST_F(EvalTest, NowAndBuiltIns) {
  const double before = NowDateTime();
  const Variant now = EvalOwned("now");
  const double after = NowDateTime();
  EXPECT_EQ(now.Kind(), VarKind::Date);
  EXPECT_GE(now.AsDouble(), before);
  EXPECT_LE(now.AsDouble(), after);
  EXPECT_EQ(EvalOwned("GETDATE(X)").Kind(), VarKind::Date);
  EXPECT_TRUE(owner_.calls.empty());  // arguments of NOW/GETDATE are not evaluated
  // a bare built-in name goes to the owner
  EXPECT_VALUE(EvalOwned("UPPER"), "String", "UPPER");
  ASSERT_EQ(owner_.calls.size(), 1u);
  // a call of a built-in does not
  owner_.calls.clear();
  EXPECT_VALUE(EvalOwned("upper(X)"), "String", "X");
  ASSERT_EQ(owner_.calls.size(), 1u);
  EXPECT_EQ(owner_.calls[0].eval, "X");
  EXPECT_EQ(ErrorOf<EListError>("SUBSTR(1)"), "List index out of bounds (2)");
}

TEST_F(EvalTest, DeepEvaluationStaysWithinTheLimit) {
  std::string text = "1";
  for (int i = 0; i < kMaxNestingDepth; ++i) text += "-(1";
  text += std::string(kMaxNestingDepth, ')');
  // 1-(1-(1-...)) with an even count of 1s after the first gives 1
  EXPECT_VALUE(Eval(text), "Double", "1");
  std::string calls;
  for (int i = 0; i < kMaxNestingDepth - 1; ++i) calls += "TRIM(";
  calls += "' x '" + std::string(kMaxNestingDepth - 1, ')');
  EXPECT_VALUE(Eval(calls), "String", "' x '");
}

}  // namespace
