// Tree builder: splitting, parentheses, calls, errors, and deep nesting.
#include <gtest/gtest.h>

#include <string>

#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "expr/KvIParsTree.h"

namespace {

// The shape of a subtree: "_" empty, a leaf's text, "(op L R)" for an operator,
// "F[a,b]" for a call.
std::string Shape(const TExpNode& n) {
  if (n.Token() == nullptr) return "_";
  std::string s;
  if (n.Token()->Kind == tkOperator && n.ChildCount() > 0) {
    s = "(" + n.Token()->Text;
    for (int i = 0; i < n.ChildCount(); ++i) s += " " + Shape(n.Child(i));
    return s + ")";
  }
  s = n.Token()->Text;
  if (n.ChildCount() > 0) {
    s += "[";
    for (int i = 0; i < n.ChildCount(); ++i) s += (i ? "," : "") + Shape(n.Child(i));
    s += "]";
  }
  return s;
}

std::string ShapeOf(const std::string& text) {
  auto tree = ParseExpression(text, nullptr);
  return Shape(*tree->Root);
}

std::string BuildError(const std::string& text) {
  try {
    ParseExpression(text, nullptr);
  } catch (const EKvIParseException& e) {
    return e.Message();
  }
  return "<built>";
}

class TreeTest : public ::testing::Test {
 protected:
  ScopedSettings settings_{FormatSettings::Iso()};
};

TEST_F(TreeTest, LeavesAndEmptyExpressions) {
  EXPECT_EQ(ShapeOf(""), "_");
  EXPECT_EQ(ShapeOf("   "), "_");
  EXPECT_EQ(ShapeOf("(5)"), "5");
  EXPECT_EQ(ShapeOf("((x))"), "x");
  EXPECT_EQ(ShapeOf("()"), "_");
  EXPECT_EQ(ShapeOf("("), "(");  // a lone parenthesis is a leaf
  auto tree = ParseExpression("((x))", nullptr);
  EXPECT_EQ(tree->Root->TokenCount(), 1);
  EXPECT_EQ(tree->Root->Parent(), nullptr);
}

TEST_F(TreeTest, OperatorOrderAndGrouping) {
  EXPECT_EQ(ShapeOf("10-4-3"), "(- 10 (- 4 3))");
  EXPECT_EQ(ShapeOf("10-4+3"), "(+ (- 10 4) 3)");
  EXPECT_EQ(ShapeOf("2*3+4"), "(+ (* 2 3) 4)");
  EXPECT_EQ(ShapeOf("2^3^2"), "(^ 2 (^ 3 2))");
  EXPECT_EQ(ShapeOf("1 = 1 + 1"), "(+ (= 1 1) 1)");
  EXPECT_EQ(ShapeOf("(p)AND(q)OR(r)"), "(AND p (OR q r))");
  EXPECT_EQ(ShapeOf("x=1 OR(y)=2"), "(= x (= (OR 1 y) 2))");
  EXPECT_EQ(ShapeOf("((a+b))*c"), "(* (+ a b) c)");
  EXPECT_EQ(ShapeOf("(a)+(b)"), "(+ a b)");
  EXPECT_EQ(ShapeOf("X *- 1"), "(*- X 1)");  // outside the table: splits first
  EXPECT_EQ(ShapeOf("a+b*-c"), "(*- (+ a b) c)");
}

TEST_F(TreeTest, EmptyOperandsAndUnaryOperators) {
  EXPECT_EQ(ShapeOf("-5"), "(- _ 5)");
  EXPECT_EQ(ShapeOf("5+"), "(+ 5 _)");
  EXPECT_EQ(ShapeOf("5!"), "(! 5)");
  EXPECT_EQ(ShapeOf("NOT (x)"), "(NOT x)");
  EXPECT_EQ(ShapeOf("(a=1)AND(NOT(b=2))"), "(AND (= a 1) (NOT (= b 2)))");
  EXPECT_EQ(ShapeOf("1!2"), "(! 1 2)");  // both sides: rejected only when evaluated
  auto tree = ParseExpression("-5", nullptr);
  const TExpNode& root = *tree->Root;
  ASSERT_EQ(root.ChildCount(), 2);
  EXPECT_EQ(root.Child(0).Token(), nullptr);
  EXPECT_EQ(root.Child(0).TokenCount(), 0);
  EXPECT_EQ(&*root.Child(1).Parent(), &root);
  EXPECT_EQ(root.Child(1).Depth(), 1);
}

TEST_F(TreeTest, Calls) {
  EXPECT_EQ(ShapeOf("F(1,2,3)"), "F[1,2,3]");
  EXPECT_EQ(ShapeOf("F(a, G(b, c))"), "F[a,G[b,c]]");
  EXPECT_EQ(ShapeOf("F(a, ,b)"), "F[a,_,b]");
  EXPECT_EQ(ShapeOf("F(a,,b)"), "F[a,b]");
  EXPECT_EQ(ShapeOf("F(a,)"), "F[a]");
  EXPECT_EQ(ShapeOf("F(,a)"), "F[_,a]");
  EXPECT_EQ(ShapeOf("F((1+2),3)"), "F[(+ 1 2),3]");
  EXPECT_EQ(ShapeOf("F(x)+G(y)"), "(+ F[x] G[y])");
  EXPECT_EQ(ShapeOf("F(a("), "F[a]");  // the texts of the two parentheses are not compared
}

TEST_F(TreeTest, BuildErrors) {
  EXPECT_EQ(BuildError("F()"), "Compile error: syntax fault.");
  EXPECT_EQ(BuildError("1 2"), "Compile error: syntax fault.");
  EXPECT_EQ(BuildError("(a"), "Compile error: syntax fault.");
  EXPECT_EQ(BuildError("F(1))"), "Compile error: parenthesis mismatch.");
  EXPECT_EQ(BuildError("a)"), "Compile error: parenthesis mismatch.");
  EXPECT_EQ(BuildError("(a))+(b"), "Compile error: parenthesis mismatch.");
  EXPECT_EQ(BuildError("F(a)(b)"), "Function parse error.");
  EXPECT_EQ(BuildError("F(1 2, a)b)"), "Compile error: parenthesis mismatch.");
  // the right operand is built first
  EXPECT_EQ(BuildError("F(a)(b) + (1 2)"), "Compile error: syntax fault.");
  EXPECT_EQ(BuildError("(1 2) + F(a)(b)"), "Function parse error.");
  // arguments are split and built in order
  EXPECT_EQ(BuildError("F(1 2, a)(b)"), "Compile error: syntax fault.");
}

TEST_F(TreeTest, DeepParenthesesAreStrippedWithoutRecursion) {
  const int n = 100000;
  std::string text(n, '(');
  text += "42";
  text += std::string(n, ')');
  EXPECT_EQ(ShapeOf(text), "42");
  // and inside a call argument
  EXPECT_EQ(ShapeOf("F(" + text + ")"), "F[42]");
}

TEST_F(TreeTest, DeepNestingFailsCleanly) {
  const int n = 100000;
  std::string chain;
  for (int i = 0; i < n; ++i) chain += "(1+";
  chain += "1" + std::string(n, ')');
  EXPECT_EQ(BuildError(chain), "Expression is nested too deeply.");
  std::string calls;
  for (int i = 0; i < n; ++i) calls += "F(";
  calls += "1" + std::string(n, ')');
  EXPECT_EQ(BuildError(calls), "Expression is nested too deeply.");
  std::string flat = "1";
  for (int i = 0; i < 1000000; ++i) flat += "+1";  // a few megabytes
  EXPECT_EQ(BuildError(flat), "Expression is nested too deeply.");
  // as deep as allowed still builds
  std::string ok = "1";
  for (int i = 0; i < kMaxNestingDepth; ++i) ok += "-1";
  EXPECT_EQ(BuildError(ok), "<built>");
}

TEST_F(TreeTest, WideCallsBuild) {
  std::string call = "F(1";
  for (int i = 0; i < 200000; ++i) call += ",(1)";
  call += ")";
  auto tree = ParseExpression(call, nullptr);
  ASSERT_EQ(tree->Root->ChildCount(), 200001);
  EXPECT_EQ(tree->Root->Child(200000).Token()->Text, "1");
}

}  // namespace
