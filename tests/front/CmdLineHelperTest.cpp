#include <gtest/gtest.h>

#include "front/CmdLineHelper.h"

using Tokens = std::vector<std::string>;

TEST(CmdLineSplit, SeparatorsQuotesAndEmptyLines) {
  EXPECT_EQ(SplitCmdLine(""), Tokens{});
  EXPECT_EQ(SplitCmdLine(" \t\r\n"), Tokens{});
  EXPECT_EQ(SplitCmdLine("prog a.tps  out.txt\t/h"), (Tokens{"prog", "a.tps", "out.txt", "/h"}));
  // Every byte from 1 to 32 separates, not only blanks.
  EXPECT_EQ(SplitCmdLine("a\x01"
                         "b\x1f"
                         "c"),
            (Tokens{"a", "b", "c"}));
  // A quoted pair of words is one argument without the quotes.
  EXPECT_EQ(SplitCmdLine("p \"my file.tps\" x"), (Tokens{"p", "my file.tps", "x"}));
  // Quotes may open and close inside an argument.
  EXPECT_EQ(SplitCmdLine("p /where=\"a b\"c"), (Tokens{"p", "/where=a bc"}));
  // Two quotes in a row add nothing, inside quotes as well as outside.
  EXPECT_EQ(SplitCmdLine("p \"\" x\"\"y \"a\"\"b\""), (Tokens{"p", "", "xy", "ab"}));
  // An unclosed quote runs to the end of the line.
  EXPECT_EQ(SplitCmdLine("p \"a b"), (Tokens{"p", "a b"}));
  // A NUL byte ends the text.
  EXPECT_EQ(SplitCmdLine(std::string_view("p a\0b", 5)), (Tokens{"p", "a"}));
}

TEST(CmdLineSplit, BackslashRuns) {
  // A backslash before a quote makes the quote literal.
  EXPECT_EQ(SplitCmdLine(R"(p a\"b)"), (Tokens{"p", "a\"b"}));
  // Backslashes not before a quote are copied unchanged.
  EXPECT_EQ(SplitCmdLine(R"(p C:\dir\\file \\)"), (Tokens{"p", R"(C:\dir\\file)", R"(\\)"}));
  // Three backslashes and a quote: one backslash and a literal quote.
  EXPECT_EQ(SplitCmdLine(R"(p a\\\"b)"), (Tokens{"p", "a\\\"b"}));
  // Four backslashes and a quote: two backslashes, and the quote toggles quoting.
  EXPECT_EQ(SplitCmdLine(R"(p a\\\\"b c" d)"), (Tokens{"p", R"(a\\b c)", "d"}));
  // Two backslashes and a quote: one backslash, then the quote toggles.
  EXPECT_EQ(SplitCmdLine(R"(p "x\\" y)"), (Tokens{"p", "x\\", "y"}));
  // A literal quote inside quotes does not end the quoting.
  EXPECT_EQ(SplitCmdLine(R"(p "a \" b" c)"), (Tokens{"p", "a \" b", "c"}));
}

TEST(CmdLineParams, CountAndArgumentsOfARawLine) {
  const std::string line = R"("C:\Program Files\veltro.exe" in.tps "out file.txt" /h)";
  EXPECT_EQ(CmdLineParamCount(line), 3);
  EXPECT_EQ(CmdLineParamStr(line, 1), "in.tps");
  EXPECT_EQ(CmdLineParamStr(line, 2), "out file.txt");
  EXPECT_EQ(CmdLineParamStr(line, 3), "/h");
  EXPECT_EQ(CmdLineParamStr(line, 4), "");
  EXPECT_EQ(CmdLineParamCount("veltro.exe"), 0);
  EXPECT_EQ(CmdLineParamCount(""), 0);
  // Argument 0 is the running program's own path, not the program token.
  EXPECT_EQ(CmdLineParamStr(line, 0), ProgramFilePath());
  EXPECT_EQ(ProgramFilePath().front(), '/');
}

TEST(CmdLineParams, ProcessArgumentsAreUsedAsGiven) {
  char a0[] = "veltro", a1[] = "a \"b\".tps", a2[] = "\\\\x";
  char* argv[] = {a0, a1, a2, nullptr};
  SetProcessArgs(3, argv);
  EXPECT_EQ(CmdLineParamCount(), 2);
  EXPECT_EQ(CmdLineParamStr(1), "a \"b\".tps");
  EXPECT_EQ(CmdLineParamStr(2), "\\\\x");
  EXPECT_EQ(CmdLineParamStr(3), "");
  EXPECT_EQ(CmdLineParamStr(-1), ProgramFilePath());
  SetProcessArgs(0, nullptr);
  EXPECT_EQ(CmdLineParamCount(), 0);
}
