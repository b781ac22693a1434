// Command lines as Windows users type them in cmd.exe, split into arguments and read
// into the run options.
#include <gtest/gtest.h>

#include "front/CmdLineHelper.h"
#include "front/RunOptions.h"

namespace {

using Tokens = std::vector<std::string>;

TRunOptions OptionsOf(const std::string& line) {
  Tokens args;
  for (int i = 1; i <= CmdLineParamCount(line); ++i) args.push_back(CmdLineParamStr(line, i));
  return ParseRunOptions(args);
}

TEST(CmdLineQuoting, ReadmeCommandLine) {
  // The example of the README's Windows section, byte for byte.
  const std::string line =
      R"(VELTRO.EXE "C:\data\my file.tps" out.txt /h "/where=(NAME)=\"Smith\"")";
  EXPECT_EQ(SplitCmdLine(line), (Tokens{"VELTRO.EXE", R"(C:\data\my file.tps)", "out.txt", "/h",
                                        R"(/where=(NAME)="Smith")"}));
  EXPECT_EQ(CmdLineParamCount(line), 4);
  const TRunOptions o = OptionsOf(line);
  EXPECT_EQ(o.Source, R"(C:\data\my file.tps)");
  EXPECT_EQ(o.Target, "out.txt");
  EXPECT_TRUE(o.Header);
  EXPECT_EQ(o.Filter, R"((NAME)="Smith")");
}

TEST(CmdLineQuoting, WindowsPathsAndSwitchValues) {
  // A quoted path ending in a backslash needs it doubled, or the quote turns literal.
  EXPECT_EQ(SplitCmdLine(R"(V "C:\out dir\\" x)"), (Tokens{"V", R"(C:\out dir\)", "x"}));
  EXPECT_EQ(SplitCmdLine(R"(V "C:\out dir\" x)"), (Tokens{"V", R"(C:\out dir" x)"}));
  // Quotes may open in the middle of an argument; the backslash form of the qualifier
  // reaches the switch parser unchanged.
  const TRunOptions o = OptionsOf(
      R"(V.EXE C:\TPS\CUST.TPS "D:\Export Files\cust.csv" /delimiter=\59 /qualifier=\34 /where="CITY = ""Rome""" /TABLE=Orders)");
  EXPECT_EQ(o.Source, R"(C:\TPS\CUST.TPS)");
  EXPECT_EQ(o.Target, R"(D:\Export Files\cust.csv)");
  EXPECT_EQ(o.Delimiter, ";");
  EXPECT_EQ(o.Qualifier, "\"");
  // Two quotes in a row inside quotes add nothing: the filter loses its inner quotes.
  EXPECT_EQ(o.Filter, "CITY = Rome");
  EXPECT_EQ(o.TableName, "Orders");
}

}  // namespace
