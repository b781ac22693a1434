// Runs the built program on the command-line mistakes people make: a switch where the
// target belongs, misspelt switches and values, and checks the message, the exit code
// and the files in the working folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "TestSupport.h"
#include "tpswriter/TpsWriter.h"

namespace {

// Two tables: CUSTOMER (ID, NAME, CITY) and ORDERS (NO).
void WriteShop(const std::string& path) {
  tpsw::Writer w(path);
  tpsw::Table c;
  c.number = 1;
  c.name = "CUSTOMER";
  c.fields = {tpsw::Field{tpsw::kLong, "CUS:ID", 0, 4},
              tpsw::Field{tpsw::kString, "CUS:NAME", 4, 6},
              tpsw::Field{tpsw::kString, "CUS:CITY", 10, 6}};
  tpsw::Table o;
  o.number = 2;
  o.name = "ORDERS";
  o.fields = {tpsw::Field{tpsw::kShort, "ORD:NO", 0, 2}};
  w.AddTable(c);
  w.AddTable(o);
  tpsw::AddTextRows(w, c, {{"1", "Smith", "Tampa"}, {"2", "Jones", "Boston"}});
  tpsw::AddTextRows(w, o, {{"7"}});
  w.Finish();
}

std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.insert(e.path().filename().string());
  return names;
}

class CommandLineMistakes : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("LC_ALL", "C", 1);
    WriteShop(dir.File("shop.tps"));
  }
  ProcessResult Veltro(std::vector<std::string> args) {
    args.insert(args.begin(), VeltroBinary());
    return RunProcess(args, dir.Path());
  }
  TempDir dir;
};

}  // namespace

TEST_F(CommandLineMistakes, ASecondArgumentThatIsNoTargetEndsTheRunWritingNothing) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  const std::vector<Case> cases = {
      {{"shop.tps", "/h"}, "No target file given: \"/h\" is a switch.\r\n"},
      {{"shop.tps", "/H", "/f"}, "No target file given: \"/H\" is a switch.\r\n"},
      {{"shop.tps", "/where=0"}, "No target file given: \"/where=0\" is a switch.\r\n"},
      {{"shop.tps", "/Fixed", "/table=ORDERS"},
       "No target file given: \"/Fixed\" is a switch.\r\n"},
      {{"shop.tps", "--help"},
       "No target file given: \"--help\" is read as a switch; write ./--help for a file of that "
       "name.\r\n"},
      {{"shop.tps", "-h"},
       "No target file given: \"-h\" is read as a switch; write ./-h for a file of that name.\r\n"},
      {{"shop.tps", ""}, "No target file given.\r\n"},
      // Checked before the source is looked for.
      {{"missing.tps", "/h"}, "No target file given: \"/h\" is a switch.\r\n"},
      // Standard output takes one table only.
      {{"shop.tps", "-", "/h"},
       "Standard output (target -) takes one table and this file has 2: choose one with "
       "/TABLE=.\r\n"},
  };
  const std::set<std::string> before = Listing(dir.Path());
  for (const Case& c : cases) {
    const ProcessResult r = Veltro(c.args);
    EXPECT_EQ(r.exitCode, 1) << c.args[1];
    EXPECT_EQ(r.out, c.out) << c.args[1];
    EXPECT_EQ(r.err, "") << c.args[1];
    EXPECT_EQ(Listing(dir.Path()), before) << c.args[1];
  }
}

TEST_F(CommandLineMistakes, ASecondArgumentListNeedsNoTarget) {
  const std::set<std::string> before = Listing(dir.Path());
  const ProcessResult r = Veltro({"shop.tps", "/LIST", "/delimiter=,"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "TableNumber,TableName\r\n1,CUSTOMER\r\n2,ORDERS\r\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Listing(dir.Path()), before);
}

TEST_F(CommandLineMistakes, UnknownSwitchesAndValuesWarnAndTheRunGoesOn) {
  const ProcessResult plain = Veltro({"shop.tps", "plain.txt", "/table=CUSTOMER"});
  ASSERT_EQ(plain.exitCode, 0);
  const ProcessResult r =
      Veltro({"shop.tps", "out.txt", "/table=CUSTOMER", "/hedaer", "/delimter=\\44", "-h",
              "--header", "/recordseparator=unix", "/group=no", "where=x"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(
      r.err,
      "Warning: unknown switch \"/hedaer\" was ignored.\r\n"
      "Warning: unknown switch \"/delimter=\\44\" was ignored (did you mean /delimiter=?).\r\n"
      "Warning: unknown switch \"-h\" was ignored (did you mean /h?).\r\n"
      "Warning: unknown switch \"--header\" was ignored.\r\n"
      "Warning: unknown value \"unix\" of /recordseparator= (it takes crlf, cr, lf or "
      "nothing).\r\n"
      "Warning: unknown value \"no\" of /group= (it takes 0 or 1).\r\n"
      "Warning: argument \"where=x\" is no switch and was ignored (did you mean "
      "/where=?).\r\n");
  // The output is that of the run without the mistaken arguments.
  EXPECT_EQ(ReadFileText(dir.File("out.CUSTOMER.txt")),
            ReadFileText(dir.File("plain.CUSTOMER.txt")));
  EXPECT_EQ(Listing(dir.Path()),
            (std::set<std::string>{"shop.tps", "plain.CUSTOMER.txt", "out.CUSTOMER.txt"}));
}

TEST_F(CommandLineMistakes, FieldsAndFilterNamesThatAreNoFieldWarnOncePerCause) {
  ProcessResult r = Veltro({"shop.tps", "out.txt", "/fields=NAME,CITY"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(
      r.err,
      "Warning: \"name,city\" of /fields= is no field of the tables converted (the names of "
      "/fields= are separated by \";\", not \",\").\r\n"
      "Warning: table CUSTOMER has none of the fields of /fields=; its lines hold no "
      "values.\r\n"
      "Warning: table ORDERS has none of the fields of /fields=; its lines hold no values.\r\n");
  // The output is still written as before: one empty line per row.
  EXPECT_EQ(ReadFileText(dir.File("out.CUSTOMER.txt")), "\r\n\r\n");

  r = Veltro({"shop.tps", "f.txt", "/table=CUSTOMER", "/fields=name;foo"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "Warning: \"foo\" of /fields= is no field of the tables converted.\r\n");

  // Two rows, one warning per table.
  r = Veltro({"shop.tps", "w.txt", "/where=TRIM(STAT) = \"FL\""});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "Warning: \"STAT\" in the filter is no field of table CUSTOMER; it stands for the text "
            "\"STAT\".\r\n"
            "Warning: \"STAT\" in the filter is no field of table ORDERS; it stands for the text "
            "\"STAT\".\r\n");
  EXPECT_EQ(ReadFileText(dir.File("w.CUSTOMER.txt")), "");
}

TEST_F(CommandLineMistakes, TheTargetMinusIsStandardOutput) {
  const std::set<std::string> before = Listing(dir.Path());
  ProcessResult r = Veltro({"shop.tps", "-", "/table=CUSTOMER", "/h", "/delimiter=,"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "ID,NAME,CITY\r\n1,Smith ,Tampa \r\n2,Jones ,Boston\r\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Listing(dir.Path()), before);

  // A failure report goes to standard error too, apart from the data.
  r = Veltro({"shop.tps", "-", "/table=ORDERS", "/h", "/where=X"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out.rfind("NO\r\nException EVariantTypeCastError in module ", 0), 0u) << r.out;
  const std::size_t report = r.err.find("Exception EVariantTypeCastError in module ");
  ASSERT_NE(report, std::string::npos) << r.err;
  EXPECT_EQ(r.err.substr(report), r.out.substr(4));
  EXPECT_EQ(Listing(dir.Path()), before);
}
