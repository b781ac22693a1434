// The pieces of a folder run that need no process: name patterns, the argument quoting
// of a started run, the failure message taken from its output.
#include <gtest/gtest.h>

#include "front/BatchFiles.h"
#include "front/CmdLineHelper.h"
#include "front/PathNames.h"

TEST(FolderRunPieces, WildcardsIgnoreLetterCase) {
  struct Case {
    const char* Pattern;
    const char* Name;
    bool Matches;
  };
  const Case cases[] = {
      {"*.tps", "CUSTOMER.TPS", true},
      {"*.tps", "orders.tps", true},
      {"*.tps", "orders.tps.bak", false},
      {"*.tps", ".tps", true},
      {"t?ble*.TPS", "table-with-time.TPS", true},
      {"t?ble*.TPS", "table.tps", true},
      {"t?ble*.TPS", "tble.tps", false},
      {"?", "", false},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYbZ", false},
      {"**", "", true},
      {"ä*", "Ä.tps", false},  // ASCII letters only
  };
  for (const Case& c : cases)
    EXPECT_EQ(WildcardMatches(c.Pattern, c.Name), c.Matches) << c.Pattern << " " << c.Name;
}

TEST(FolderRunPieces, QuotedArgumentsReadBackUnchanged) {
  const std::vector<std::string> arguments = {"plain",        "",
                                              "with space",   "C:\\dir name\\",
                                              "\"quoted\"",   "a\\\\\"b",
                                              "tab\there",    "/where=TRIM(CITY)=\"Oslo\"",
                                              "trailing\\\\", "\\\\server\\x"};
  std::string line = "VELTRO.EXE";
  for (const std::string& a : arguments) line += " " + QuoteCmdLineArgument(a);
  std::vector<std::string> expected = {"VELTRO.EXE"};
  expected.insert(expected.end(), arguments.begin(), arguments.end());
  EXPECT_EQ(SplitCmdLine(line), expected) << line;
}

TEST(FolderRunPieces, FailureMessageFromTheRunsOutput) {
  EXPECT_EQ(FailureMessage("Exception EFOpenError in module veltro at 0000000000401000.\r\n"
                           "Cannot open file x.tps.\r\n",
                           "", 1, 0),
            "Cannot open file x.tps.");
  EXPECT_EQ(FailureMessage("Table name: ORDERS not found in TPS file.\r\n", "", 2, 0),
            "Table name: ORDERS not found in TPS file.");
  EXPECT_EQ(FailureMessage("", "Cannot write file out.txt\r\n", 1, 0), "Cannot write file out.txt");
  EXPECT_EQ(FailureMessage("", "", -1, 11), "The conversion ended on signal 11.");
}

TEST(FolderRunPieces, SharedTableNamesGetTheFilesPrefix) {
  // Names of three files: CUSTOMER in two of them (in another letter case), a prefixed
  // name that a third file already gives, a name of one file only.
  const std::vector<std::vector<std::string>> names = {
      {"CUSTOMER", "ORDERS"}, {"Customer", "a_b_CUSTOMER"}, {"NOTES"}};
  const std::vector<std::string> prefixes = {"a_b", "c", "d"};
  const std::vector<TRenames> renames = SharedNameRenames(names, prefixes);
  ASSERT_EQ(renames.size(), 3u);
  EXPECT_EQ(renames[0], (TRenames{{"CUSTOMER", "a_b_CUSTOMER_2"}}));
  EXPECT_EQ(renames[1], (TRenames{{"Customer", "c_Customer"}}));
  EXPECT_TRUE(renames[2].empty());

  EXPECT_EQ(TablePrefixOf(std::string("2019") + PathSeparator() + "SHOP.TPS"), "2019_SHOP");
  EXPECT_EQ(TablePrefixOf("shop.v2.tps"), "shop.v2");

  // Any byte may be in a name; a damaged list is refused.
  const std::vector<std::string> list = {"", "a:b", std::string("x\0\n9", 4), "12345678901"};
  std::vector<std::string> back;
  ASSERT_TRUE(SplitNames(JoinNames(list), back));
  EXPECT_EQ(back, list);
  for (const char* bad : {"3:ab", "x:", "1", ":a"}) EXPECT_FALSE(SplitNames(bad, back)) << bad;
}
