// End-to-end tests of row filters: the built veltro program with "/WHERE=" and
// "/FILTER=" on a TopSpeed file written by the project's own writer. Filtered output
// is compared with the lines of the same rows in the unfiltered output.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sstream>

#include "TestSupport.h"
#include "front/CmdLineHelper.h"
#include "tpswriter/TpsWriter.h"

namespace {

// Customers: ID, FIRST, "Last Name", CITY, QTY, PRICE, CODE, BORN, STAMP (a date and
// time kept as text) and a NOTES memo.
tpsw::Table CustomerTable() {
  tpsw::Table t;
  t.number = 1;
  t.name = "CUSTOMER";
  t.fields = {tpsw::Field{tpsw::kLong, "CUS:ID", 0, 4},
              tpsw::Field{tpsw::kString, "CUS:FIRST", 4, 6},
              tpsw::Field{tpsw::kString, "CUS:Last Name", 10, 10},
              tpsw::Field{tpsw::kString, "CUS:CITY", 20, 8},
              tpsw::Field{tpsw::kShort, "CUS:QTY", 28, 2},
              tpsw::Field{tpsw::kDecimal, "CUS:PRICE", 30, 5, 1, 2},
              tpsw::Field{tpsw::kString, "CUS:CODE", 35, 1},
              tpsw::Field{tpsw::kDate, "CUS:BORN", 36, 4},
              tpsw::Field{tpsw::kString, "CUS:STAMP", 40, 16}};
  t.memos = {tpsw::Memo{"CUS:NOTES"}};
  return t;
}

// Row k has ID k. Rows 2 and 4 have no NOTES.
const std::vector<std::vector<std::string>> kCustomers = {
    {"1", "Ann", "Smith", "Rome", "5", "12.50", "A", "1980-05-17", "17/05/2020 09:30", "vip"},
    {"2", "Bob", "Jones", "Oslo", "12", "3.25", "B", "1999-12-31", "01/02/2021 18:00", ""},
    {"3", "Cid", "Brown", "Bergen", "40", "100.00", "C", "2004-02-29", "15/08/2019 07:15",
     "late payer"},
    {"4", "Dee", "smith", "Oslo", "0", "0.99", "A", "2010-07-01", "30/11/2022 23:59", ""},
    {"5", "Eve", "O'Neil", "Rome", "25", "49.90", "B", "1975-01-01", "05/05/2005 05:05", "x"}};

// CUSTOMER with the rows above, and EMPTY, a table without rows.
void WriteCustomers(const std::string& path) {
  tpsw::Writer w(path);
  const tpsw::Table c = CustomerTable();
  tpsw::Table e;
  e.number = 2;
  e.name = "EMPTY";
  e.fields = {tpsw::Field{tpsw::kLong, "E:ID", 0, 4}};
  w.AddTable(c);
  w.AddTable(e);
  tpsw::AddTextRows(w, c, kCustomers);
  w.Finish();
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start + 2));
  return lines;
}

class FilterRun : public ::testing::Test {
 protected:
  void SetUp() override {
    // ISO forms of dates and numbers, whatever the machine's locale.
    setenv("LC_ALL", "C", 1);
    ASSERT_TRUE(PathExists(VeltroBinary())) << VeltroBinary();
    WriteCustomers(dir.File("cust.tps"));
    const ProcessResult all = Veltro({"cust.tps", "all.txt", "/h", "/table=CUSTOMER"});
    ASSERT_EQ(all.exitCode, 0) << all.out;
    allLines = SplitLines(Out("all.CUSTOMER.txt"));
    ASSERT_EQ(allLines.size(), kCustomers.size() + 1);
    ASSERT_EQ(allLines[1].substr(0, 2), "1\t");
  }
  ProcessResult Veltro(std::vector<std::string> args) {
    args.insert(args.begin(), VeltroBinary());
    return RunProcess(args, dir.Path());
  }
  std::string Out(const std::string& name) { return ReadFileText(dir.File(name)); }
  // The header line and the unfiltered lines of the rows with these IDs.
  std::string Expected(const std::set<int>& ids) {
    std::string text = allLines[0];
    for (int id : ids) text += allLines[std::size_t(id)];
    return text;
  }
  // The CUSTOMER output of a run with this filter switch (e.g. "/where=...").
  std::string Filtered(const std::string& filterSwitch) {
    const ProcessResult r = Veltro({"cust.tps", "f.txt", "/h", "/table=CUSTOMER", filterSwitch});
    EXPECT_EQ(r.exitCode, 0) << filterSwitch << "\n" << r.out;
    EXPECT_EQ(r.out, "") << filterSwitch;
    return Out("f.CUSTOMER.txt");
  }
  // The report of an unhandled failure: exit code 1, the class line, the message line.
  static void ExpectReport(const ProcessResult& r, const std::string& cls,
                           const std::string& message) {
    EXPECT_EQ(r.exitCode, 1);
    const std::string head = "Exception " + cls + " in module ";
    EXPECT_EQ(r.out.substr(0, head.size()), head) << r.out;
    const std::size_t eol = r.out.find(".\r\n");
    ASSERT_NE(eol, std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(eol + 3), message + "\r\n");
  }
  TempDir dir;
  std::vector<std::string> allLines;
};

// The filters shown in README.md, as typed in a Unix shell (the part between the
// quotes), with the rows of the fixture they select.
struct TReadmeExample {
  std::string Switch;
  std::set<int> Ids;
};
const std::vector<TReadmeExample> kReadmeExamples = {
    {R"(/WHERE=TRIM(CITY) = "Oslo")", {2, 4}},
    {R"(/WHERE=UPPER(TRIM([Last Name])) = "SMITH")", {1, 4}},
    {R"(/WHERE=TRIM(CITY) = Rome)", {1, 5}},
    {R"(/WHERE=(QTY >= 10) AND (QTY <= 30))", {2, 5}},
    {R"(/WHERE=(PRICE > 1) AND (PRICE < 50))", {1, 2, 5}},
    {R"(/WHERE=(TRIM(CITY) = "Oslo") OR ((QTY > 30) AND (CODE = "C")))", {2, 3, 4}},
    {R"(/WHERE=NOT (QTY > 10))", {1, 4}},
    {R"(/WHERE=YEAR(BORN) >= 2000)", {3, 4}},
    {R"(/WHERE=BORN < DATETIMEFROMSTRING("1990-01-01", "YYYY-MM-DD", "-", ":"))", {1, 5}},
    {R"(/WHERE=YEAR(DATETIMEFROMSTRING(STAMP, "DD/MM/YYYY HH:NN", "/", ":")) >= 2020)", {1, 2, 4}},
    {R"(/WHERE=SUBSTITUTE(CODE, "A;B", "Gold;Silver") = "Gold")", {1, 4}},
    {R"(/WHERE=ISNULL(SUBSTITUTE(CODE, "A;B", "Gold;Silver")))", {3}},
    {R"(/WHERE=IIF(CODE = "A", QTY > 0, PRICE > 40))", {1, 3, 5}},
    {R"(/WHERE=ISNULL(NOTES))", {2, 4}},
    // The surprises of the operator order.
    {R"(/WHERE=(QTY > 30) AND (CODE = "C") OR (ID = 1))", {3}},
    {R"(/WHERE=(QTY > 30) OR (CODE = "B") AND (ID = 5))", {5}},
    {R"(/WHERE=QTY >= 10 - 5)", {1, 2, 3, 4, 5}},
    {R"(/WHERE=(QTY * 2) > 20)", {2, 3, 5}},
    {R"(/WHERE=QTY * 2 < 20)", {1, 2, 3, 5}},
    {R"(/WHERE=TRIM([Last Name]) = 'Smith')", {}},
};

}  // namespace

TEST_F(FilterRun, TextNumberAndLogicFilters) {
  // A Char field keeps its trailing blanks: only a trimmed value equals the text.
  EXPECT_EQ(Filtered(R"(/where=[Last Name] = "Smith")"), Expected({}));
  EXPECT_EQ(Filtered(R"(/where=TRIM([Last Name]) = "Smith")"), Expected({1}));
  // Field names in any letter case; a double-quoted text is the text.
  EXPECT_EQ(Filtered(R"(/where=trim(city) = "Bergen")"), Expected({3}));
  EXPECT_EQ(Filtered(R"(/where=code = "B")"), Expected({2, 5}));
  EXPECT_EQ(Filtered("/where=QTY > 10"), Expected({2, 3, 5}));
  EXPECT_EQ(Filtered("/where=PRICE = 0.99"), Expected({4}));
  EXPECT_EQ(Filtered(R"(/where=(QTY > 10) AND ((CODE = "B") OR (CODE = "C")))"),
            Expected({2, 3, 5}));
  EXPECT_EQ(Filtered(R"(/where=(ID = 1) OR (TRIM(FIRST) = "Eve"))"), Expected({1, 5}));
}

TEST_F(FilterRun, SubstituteMissingCellsAndDates) {
  EXPECT_EQ(Filtered(R"(/where=SUBSTITUTE(CODE, "A;B", "Gold;Silver") = "Silver")"),
            Expected({2, 5}));
  // Rows without a NOTES memo have no cell there: Null.
  EXPECT_EQ(Filtered("/where=ISNULL(NOTES)"), Expected({2, 4}));
  EXPECT_EQ(Filtered(R"(/where=NOTES = "x")"), Expected({5}));
  EXPECT_EQ(Filtered("/where=MONTH(BORN) = 12"), Expected({2}));
  EXPECT_EQ(Filtered(R"(/where=HOUR(DATETIMEFROMSTRING(STAMP, "DD/MM/YYYY HH:NN", "/", ":")) < 8)"),
            Expected({3, 5}));
}

TEST_F(FilterRun, OperatorOrderRules) {
  // Chains group to the right: 10-(4-3).
  EXPECT_EQ(Filtered("/where=(10-4-3) = 9"), Expected({1, 2, 3, 4, 5}));
  EXPECT_EQ(Filtered("/where=(10-4-3) = 3"), Expected({}));
  // A comparison binds tighter than "+": (ID = 2) + 1 is 0 only where ID is 2.
  EXPECT_EQ(Filtered("/where=ID = 2 + 1"), Expected({1, 3, 4, 5}));
  // Names absorb spaces: Ro me is the text Rome.
  EXPECT_EQ(Filtered("/where=TRIM(CITY) = Ro me"), Expected({1, 5}));
}

TEST_F(FilterRun, WhereAndFilterAreTheSame) {
  const std::string expr = R"((TRIM(CITY) = "Rome") AND (QTY > 10))";
  const std::string where = Filtered("/WHERE=" + expr);
  EXPECT_EQ(where, Expected({5}));
  EXPECT_EQ(Filtered("/FILTER=" + expr), where);
  EXPECT_EQ(Filtered("/filter=" + expr), where);
}

TEST_F(FilterRun, ANullResultEndsTheRunAfterTheEarlierLines) {
  // Code A maps to 1 (true); code B gives no value at row 2.
  const ProcessResult r = Veltro(
      {"cust.tps", "f.txt", "/h", "/table=CUSTOMER", R"(/where=SUBSTITUTE(CODE, "A", "1"))"});
  ExpectReport(r, "EVariantTypeCastError", "Invalid variant type conversion.");
  EXPECT_EQ(Out("f.CUSTOMER.txt"), Expected({1}));

  // A text that is no truth value fails as well: the first row's NOTES.
  ExpectReport(Veltro({"cust.tps", "g.txt", "/table=CUSTOMER", "/where=NOTES"}),
               "EVariantTypeCastError", "Invalid variant type conversion.");
  EXPECT_EQ(Out("g.CUSTOMER.txt"), "");
}

TEST_F(FilterRun, SyntaxErrorsFailAtTheFirstRowOnly) {
  // Keywords need parenthesised operands.
  const ProcessResult r =
      Veltro({"cust.tps", "f.txt", "/h", "/table=CUSTOMER", "/where=QTY > 1 AND QTY < 9"});
  ExpectReport(r, "EKvIParseException", "Compile error: syntax fault.");
  EXPECT_EQ(Out("f.CUSTOMER.txt"), allLines[0]);
  ExpectReport(Veltro({"cust.tps", "f.txt", "/table=CUSTOMER", "/where=(QTY > 1"}),
               "EKvIParseException", "Compile error: syntax fault.");

  // A table without rows never evaluates the filter.
  const ProcessResult empty =
      Veltro({"cust.tps", "e.txt", "/h", "/table=EMPTY", "/where=(QTY > 1"});
  EXPECT_EQ(empty.exitCode, 0) << empty.out;
  EXPECT_EQ(Out("e.EMPTY.txt"), "ID\r\n");
}

TEST_F(FilterRun, EveryTableIsFilteredByItsOwnFields) {
  // Without /TABLE= both tables are written; ID is a field of each.
  const ProcessResult r = Veltro({"cust.tps", "f.txt", "/h", "/where=ID > 3"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Out("f.CUSTOMER.txt"), Expected({4, 5}));
  EXPECT_EQ(Out("f.EMPTY.txt"), "ID\r\n");
}

TEST_F(FilterRun, ReadmeExamples) {
  const std::string readme = ReadFileText(std::string(VELTRO_SOURCE_DIR) + "/README.md");
  for (const TReadmeExample& e : kReadmeExamples) {
    // Shown in the README as an argument of a Unix shell: in single quotes, or in
    // double quotes when it holds single quotes.
    const char q = e.Switch.find('\'') == std::string::npos ? '\'' : '"';
    EXPECT_NE(readme.find(q + e.Switch + q), std::string::npos) << e.Switch;
    EXPECT_EQ(Filtered(e.Switch), Expected(e.Ids)) << e.Switch;
  }
}

TEST(FilterReadme, CommandPromptFormsGiveTheSameSwitch) {
  // Every line of the README that starts the program from the command prompt with a
  // filter splits into the same switch as the Unix shell form of that filter.
  const std::string readme = ReadFileText(std::string(VELTRO_SOURCE_DIR) + "/README.md");
  std::set<std::string> unixForms;
  for (const TReadmeExample& e : kReadmeExamples) unixForms.insert(e.Switch);
  int checked = 0;
  std::istringstream lines(readme);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t start = line.find("VELTRO.EXE ");
    if (start == std::string::npos || line.find("\"/WHERE=") == std::string::npos) continue;
    const std::vector<std::string> args = SplitCmdLine(line.substr(start));
    ASSERT_EQ(args.size(), 5u) << line;
    EXPECT_EQ(unixForms.count(args[4]), 1u) << args[4];
    ++checked;
  }
  EXPECT_GE(checked, 2);
}
