// What a node learns about its token when the tree is built: the built-in function a
// name calls, GETDATE/NOW, and the operator's priority and arity. Evaluation relies on
// these instead of looking the text up again, so they must be right on every node.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "cells/KvConvert.h"
#include "cells/KvSettings.h"
#include "expr/KvIParsBuiltins.h"
#include "expr/KvIParsEval.h"
#include "expr/KvIParsTree.h"

namespace {

void Collect(const TExpNode& n, std::vector<const TExpNode*>& out) {
  out.push_back(&n);
  for (int i = 0; i < n.ChildCount(); ++i) Collect(n.Child(i), out);
}

std::vector<const TExpNode*> Nodes(const TExpTree& tree) {
  std::vector<const TExpNode*> out;
  Collect(*tree.Root, out);
  return out;
}

const TExpNode* Find(const TExpTree& tree, const std::string& text) {
  for (const TExpNode* n : Nodes(tree)) {
    if (n->Token() && n->Token()->Text == text) return n;
  }
  return nullptr;
}

class NodeLookupTest : public ::testing::Test {
 protected:
  ScopedSettings settings_{FormatSettings::Iso()};
};

TEST_F(NodeLookupTest, BuiltinNamesInAnyCaseAndPosition) {
  const char* const names[] = {"SUBSTR",
                               "SUBSTRING",
                               "COPY",
                               "REPLACESTR",
                               "PADL",
                               "PADR",
                               "CHR",
                               "UPPER",
                               "LOWER",
                               "TRIM",
                               "TRIMLEFT",
                               "TRIMRIGHT",
                               "POS",
                               "STRTOFLOAT",
                               "VARTOSTR",
                               "COALESCE",
                               "STRTOINT",
                               "STRTODATE",
                               "DATETIMEFROMSTRING",
                               "LENGTH",
                               "ORD",
                               "INTTOSTR",
                               "FLOATTOSTR",
                               "MAX",
                               "MIN",
                               "SUM",
                               "AVG",
                               "COUNT",
                               "FRAC",
                               "INT",
                               "ROUND",
                               "DIV",
                               "MOD",
                               "RANDOM",
                               "ABS",
                               "POWER",
                               "EXP",
                               "LN",
                               "LOG",
                               "SQR",
                               "SQRT",
                               "PERCENT",
                               "IIF",
                               "ISNULL",
                               "ISNUMERIC",
                               "ISALPHA",
                               "ISCONTAIN",
                               "ISSTARTSWITH",
                               "ISENDSWITH",
                               "DATETOSTR",
                               "DATEPART",
                               "TIMEPART",
                               "YEAR",
                               "MONTH",
                               "DAY",
                               "HOUR",
                               "MINUTE",
                               "SECOND"};
  std::vector<int> seen;
  for (const char* name : names) {
    std::string lower = name;
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    std::string mixed = lower;
    mixed[0] = char(std::toupper(static_cast<unsigned char>(mixed[0])));
    // As the whole expression, as an operand and as an argument of another call.
    const std::string text =
        std::string(name) + "(1) + " + lower + "(2) * X(" + mixed + "(3), " + name + ")";
    auto tree = ParseExpression(text, nullptr);
    int calls = 0;
    for (const TExpNode* n : Nodes(*tree)) {
      if (n->Token() == nullptr || n->Token()->Kind != tkName) continue;
      const std::string& t = n->Token()->Text;
      if (t == "X") {
        EXPECT_EQ(n->BuiltinIndex(), -1);
        continue;
      }
      EXPECT_EQ(n->BuiltinIndex(), FindBuiltin(name)) << text << " at " << t;
      EXPECT_FALSE(n->IsNowName());
      if (n->ChildCount() > 0) ++calls;
    }
    EXPECT_EQ(calls, 3) << text;
    seen.push_back(FindBuiltin(name));
  }
  // Every name has its own place in the dispatch order.
  for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], int(i));

  auto tree = ParseExpression("now + GetDate(1) - NOWX + GETDATES(2) + [NOW] + 'trim'(1)", nullptr);
  EXPECT_TRUE(Find(*tree, "now")->IsNowName());
  EXPECT_TRUE(Find(*tree, "GetDate")->IsNowName());
  EXPECT_FALSE(Find(*tree, "NOWX")->IsNowName());
  EXPECT_FALSE(Find(*tree, "GETDATES")->IsNowName());
  EXPECT_FALSE(Find(*tree, "[NOW]")->IsNowName());
  EXPECT_EQ(Find(*tree, "NOWX")->BuiltinIndex(), -1);
  EXPECT_EQ(Find(*tree, "'trim'")->BuiltinIndex(), -1);
  EXPECT_EQ(Find(*tree, "1")->BuiltinIndex(), -1);
}

TEST_F(NodeLookupTest, OperatorsKnowTheirPriorityAndArity) {
  // Word operators need something other than a blank around them: "a and b" is one name.
  auto tree = ParseExpression(
      "(1 + 2 - 3 * 4 / 5 ^ 6 ! = 7 < 8 > 9 <= 10 >= 11 <> 12 != 13)and(14)Or(not(15))AND(16)",
      nullptr);
  int operators = 0;
  std::set<int> priorities;
  for (const TExpNode* n : Nodes(*tree)) {
    if (n->Token() == nullptr) continue;
    const std::string& t = n->Token()->Text;
    if (n->Token()->Kind != tkOperator) {
      EXPECT_EQ(n->OperatorPriority(), 0) << t;
      EXPECT_EQ(n->OperatorArgCount(), 0) << t;
      continue;
    }
    ++operators;
    priorities.insert(n->OperatorPriority());
    EXPECT_EQ(n->OperatorPriority(), OperatorIndex(t)) << t;
    EXPECT_GT(n->OperatorPriority(), 0) << t;
    EXPECT_EQ(n->OperatorArgCount(), OperatorArity(t)) << t;
  }
  EXPECT_EQ(operators, 17);  // AND twice
  EXPECT_EQ(priorities.size(), 16u);
  // An operator run outside the table has neither and evaluates to its own text.
  auto odd = ParseExpression("<<", nullptr);
  EXPECT_EQ(odd->Root->Token()->Kind, tkOperator);
  EXPECT_EQ(odd->Root->OperatorPriority(), 0);
  EXPECT_EQ(TextOf(Evaluate(*odd->Root)), "<<");
}

TEST_F(NodeLookupTest, ResultsOfTheRecognisedCalls) {
  const auto eval = [](const std::string& text) {
    auto tree = ParseExpression(text, nullptr);
    return TextOf(Evaluate(*tree->Root));
  };
  EXPECT_EQ(eval("Year(36526.75) * 100 + month(36526.75)"), "200001");
  EXPECT_EQ(eval("TrIm([  a b  ]) + [|]"), "a b|");
  EXPECT_EQ(eval("trimleft([  a b  ]) + [|]"), "a b  |");
  EXPECT_EQ(eval("TRIMRIGHT([  a b  ]) + [|]"), "  a b|");
  EXPECT_EQ(eval("trim([ ]) + [|]"), "|");
  EXPECT_EQ(eval("(NOT(0))and(5)or(8)"), "13");
}

}  // namespace
