// Tokenizer: operator table, character classes and the scanning rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "cells/KvText.h"
#include "expr/KvIParsTokens.h"

namespace {

// "text:kind" for every token, kinds as letters: N name, 9 number, P paren, O operator,
// C comma.
std::string Scan(const std::string& text) {
  TExpParser p;
  p.TokenizeAll(text);
  std::string out;
  for (const TExpToken& t : p.Tokens()) {
    if (!out.empty()) out += ' ';
    out += t.Text;
    out += ':';
    switch (t.Kind) {
      case tkName:
        out += 'N';
        break;
      case tkNumber:
        out += '9';
        break;
      case tkParen:
        out += 'P';
        break;
      case tkOperator:
        out += 'O';
        break;
      case tkComma:
        out += 'C';
        break;
      default:
        out += '?';
    }
  }
  return out;
}

class TokensTest : public ::testing::Test {
 protected:
  ScopedSettings settings_{FormatSettings::Iso()};
};

TEST_F(TokensTest, OperatorTable) {
  EXPECT_EQ(OperatorIndex("+"), 1);
  EXPECT_EQ(OperatorIndex("!"), 6);
  EXPECT_EQ(OperatorIndex("<="), 10);
  EXPECT_EQ(OperatorIndex("!="), 13);
  EXPECT_EQ(OperatorIndex("and"), 14);
  EXPECT_EQ(OperatorIndex("And"), 14);
  EXPECT_EQ(OperatorIndex("Or"), 15);
  EXPECT_EQ(OperatorIndex("not"), 16);
  // The index finds every entry of the table at its own position, in any letter case.
  for (std::size_t i = 0; i < OperatorTable.size(); ++i) {
    const std::string text = OperatorTable[i].Text;
    EXPECT_EQ(OperatorIndex(text), int(i + 1)) << text;
    EXPECT_EQ(OperatorIndex(LowerAscii(text)), int(i + 1)) << text;
    EXPECT_EQ(OperatorArity(text), OperatorTable[i].Arity) << text;
  }
  EXPECT_EQ(OperatorIndex("=<"), 0);
  EXPECT_EQ(OperatorIndex("*-"), 0);
  EXPECT_EQ(OperatorIndex("ANDX"), 0);
  EXPECT_EQ(OperatorIndex(""), 0);
  EXPECT_EQ(OperatorArity("!"), 1);
  EXPECT_EQ(OperatorArity("NOT"), 1);
  EXPECT_EQ(OperatorArity("<>"), 2);
  EXPECT_EQ(OperatorArity("<-"), 0);
}

TEST_F(TokensTest, CharacterClasses) {
  EXPECT_EQ(ClassifyChar('(', '.'), tkParen);
  EXPECT_EQ(ClassifyChar(',', ','), tkComma);  // a comma separator stays a comma
  EXPECT_EQ(ClassifyChar('^', '.'), tkOperator);
  EXPECT_EQ(ClassifyChar('7', '.'), tkNumber);
  EXPECT_EQ(ClassifyChar('.', ','), tkNumber);
  EXPECT_EQ(ClassifyChar(';', ';'), tkNumber);  // the locale's separator reads as a number
  EXPECT_EQ(ClassifyChar(';', '.'), tkName);
  EXPECT_EQ(ClassifyChar('E', '.'), tkName);
  EXPECT_EQ(ClassifyChar('\t', '.'), tkName);
  EXPECT_EQ(ClassifyChar('\xE9', '.'), tkName);
  EXPECT_EQ(ClassifyChar('\0', '.'), tkNone);
}

TEST_F(TokensTest, EmptyAndBlankTexts) {
  TExpParser p;
  p.SetText("");
  EXPECT_EQ(p.FirstToken(), nullptr);
  p.SetText(" \t\r\n ");
  EXPECT_EQ(p.Text(), "");
  EXPECT_EQ(p.FirstToken(), nullptr);
  EXPECT_TRUE(p.Tokens().empty());
}

TEST_F(TokensTest, ListedTexts) {
  EXPECT_EQ(Scan("X<=10"), "X:N <=:O 10:9");
  EXPECT_EQ(Scan("(a=1)and(b=2)"), "(:P a:N =:O 1:9 ):P and:O (:P b:N =:O 2:9 ):P");
  EXPECT_EQ(Scan("a and b"), "aandb:N");
  EXPECT_EQ(Scan("2E3"), "2:9 E3:N");
  EXPECT_EQ(Scan("x1.5"), "x1.5:N");
  EXPECT_EQ(Scan("12AB"), "12:9 AB:N");
  EXPECT_EQ(Scan("1.2.3"), "1.2.3:9");
  EXPECT_EQ(Scan("[Last Name]"), "[Last Name]:N");
  EXPECT_EQ(Scan("Last Name"), "LastName:N");
  EXPECT_EQ(Scan("F(a, b)"), "F:N (:P a:N ,:C b:N ):P");
  EXPECT_EQ(Scan("F(a,,b)"), "F:N (:P a:N ,,:C b:N ):P");
  EXPECT_EQ(Scan("F(a, ,b)"), "F:N (:P a:N ,:C ,:C b:N ):P");
  EXPECT_EQ(Scan("X<-1"), "X:N <-:O 1:9");
  EXPECT_EQ(Scan("x *- 1"), "x:N *-:O 1:9");
  EXPECT_EQ(Scan("-5"), "-:O 5:9");
  EXPECT_EQ(Scan("a\tb"), "a\tb:N");
  EXPECT_EQ(Scan("  a  +  b  "), "a:N +:O b:N");
}

TEST_F(TokensTest, KeywordsNeedAFollowingDelimiter) {
  EXPECT_EQ(Scan("(A=1)OR(B=2)"), "(:P A:N =:O 1:9 ):P OR:O (:P B:N =:O 2:9 ):P");
  EXPECT_EQ(Scan("NOT(x)"), "NOT:O (:P x:N ):P");
  // a keyword closing the text stays a name
  EXPECT_EQ(Scan("x=not"), "x:N =:O not:N");
  EXPECT_EQ(Scan("(a)AND"), "(:P a:N ):P AND:N");
  // a keyword after a name is absorbed by it
  EXPECT_EQ(Scan("a AND(b)"), "aAND:N (:P b:N ):P");
  // a quoted AND is never an operator
  EXPECT_EQ(Scan("'AND'=1"), "'AND':N =:O 1:9");
}

TEST_F(TokensTest, Quoting) {
  EXPECT_EQ(Scan("'a, (b) + c'"), "'a, (b) + c':N");
  EXPECT_EQ(Scan("\"x y\""), "\"x y\":N");
  EXPECT_EQ(Scan("'it''s'"), "'it''s':N");
  // any closing character closes; the rest goes on as a name
  EXPECT_EQ(Scan("[a'b]+1"), "[a'b]:N +:O 1:9");
  EXPECT_EQ(Scan("[a'+1]"), "[a':N +:O 1:9 ]:N");
  EXPECT_EQ(Scan("'abc'def"), "'abc'def:N");
  EXPECT_EQ(Scan("'abc' = 1"), "'abc':N =:O 1:9");
  EXPECT_EQ(Scan("'unclosed + 1"), "'unclosed + 1:N");
  EXPECT_EQ(Scan("x='"), "x:N =:O ':N");  // a lone quote at the end
  EXPECT_EQ(Scan("a'b=1"), "a'b:N =:O 1:9");
  EXPECT_EQ(Scan(std::string("'a\0b'", 5)), std::string("'a\0b':N", 7));
}

TEST_F(TokensTest, IllegalCharacter) {
  TExpParser p;
  p.SetText(std::string("ab+\0c", 5));
  EXPECT_NE(p.FirstToken(), nullptr);
  EXPECT_NE(p.NextToken(), nullptr);
  try {
    p.NextToken();
    FAIL() << "no exception";
  } catch (const EKvIParseException& e) {
    EXPECT_EQ(e.Message(), std::string("Parse error: illegal character \"\0\" at position 4.", 49));
  }
  ASSERT_EQ(p.Tokens().size(), 2u);
  EXPECT_EQ(p.Tokens()[0].Text, "ab");
  EXPECT_EQ(p.Tokens()[1].Text, "+");
  // NUL characters at the ends are trimmed away
  p.SetText(std::string("\0x\0", 3));
  EXPECT_EQ(p.Text(), "x");
}

TEST_F(TokensTest, LocaleDecimalSeparator) {
  FormatSettings fs = FormatSettings::Iso();
  fs.DecimalSeparator = ',';
  ScopedSettings scoped(fs);
  EXPECT_EQ(Scan("1,5"), "1:9 ,:C 5:9");
  fs.DecimalSeparator = ';';
  ScopedSettings scoped2(fs);
  EXPECT_EQ(Scan("1;5+x;2"), "1;5:9 +:O x;2:N");
}

TEST_F(TokensTest, FirstTokenRestarts) {
  TExpParser p;
  p.SetText("a+b");
  const TExpToken* t = p.FirstToken();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Text, "a");
  while (p.NextToken() != nullptr) {
  }
  EXPECT_EQ(p.Tokens().size(), 3u);
  EXPECT_EQ(p.FirstToken()->Text, "a");
  EXPECT_EQ(p.Tokens().size(), 1u);
  EXPECT_EQ(p.Position(), 2);
}

}  // namespace
