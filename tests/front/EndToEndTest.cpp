// Runs the built veltro program on TopSpeed files written by the project's own
// writer and on the real sample files, and compares the output bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "TestSupport.h"
#include "front/RunOptions.h"
#include "tpswriter/TpsDemo.h"
#include "tpswriter/TpsWriter.h"

namespace {

// Customers: ID, NAME, an ADDRESS group over CITY and ZIP, BALANCE, SINCE and a memo.
tpsw::Table CustomerTable() {
  tpsw::Table t;
  t.number = 1;
  t.name = "CUSTOMER";
  t.fields = {tpsw::Field{tpsw::kLong, "CUS:ID", 0, 4},
              tpsw::Field{tpsw::kString, "CUS:NAME", 4, 12},
              tpsw::Field{tpsw::kGroup, "CUS:ADDRESS", 16, 16},
              tpsw::Field{tpsw::kString, "CUS:CITY", 16, 8},
              tpsw::Field{tpsw::kString, "CUS:ZIP", 24, 8},
              tpsw::Field{tpsw::kDecimal, "CUS:BALANCE", 32, 5, 1, 2},
              tpsw::Field{tpsw::kDate, "CUS:SINCE", 37, 4}};
  t.memos = {tpsw::Memo{"CUS:NOTES"}};
  return t;
}

const std::vector<std::vector<std::string>> kCustomerRows = {
    {"1", "Smith", "", "Rome", "00100", "12.50", "2000-01-01", "first"},
    {"2", "say \"hi\"", "", "Oslo", "0150", "-3.25", "", ""},
    {"3", "O'Neil", "", "Bergen", "5003", "0", "2019-08-22", "a \"note\""}};

tpsw::Table OrderTable() {
  tpsw::Table t;
  t.number = 2;
  t.name = "ORDERS";
  t.fields = {tpsw::Field{tpsw::kShort, "ORD:NO", 0, 2},
              tpsw::Field{tpsw::kLong, "ORD:CUST", 2, 4}};
  return t;
}

// The shop file: CUSTOMER (3 rows) and ORDERS (2 rows).
void WriteShop(const std::string& path) {
  tpsw::Writer w(path);
  const tpsw::Table c = CustomerTable(), o = OrderTable();
  w.AddTable(c);
  w.AddTable(o);
  tpsw::AddTextRows(w, c, kCustomerRows);
  tpsw::AddTextRows(w, o, {{"1", "1"}, {"2", "3"}});
  w.Finish();
}

// Two tables with the given names, each with one Long field and one row.
void WriteTwoTables(const std::string& path, const std::string& first, const std::string& second) {
  tpsw::Writer w(path);
  tpsw::Table a, b;
  a.number = 1;
  a.name = first;
  a.fields = {tpsw::Field{tpsw::kLong, "A:X", 0, 4}};
  b = a;
  b.number = 2;
  b.name = second;
  w.AddTable(a);
  w.AddTable(b);
  tpsw::AddTextRows(w, a, {{"11"}});
  tpsw::AddTextRows(w, b, {{"22"}});
  w.Finish();
}

class VeltroRun : public ::testing::Test {
 protected:
  void SetUp() override {
    // ISO forms of dates and numbers, whatever the machine's locale.
    setenv("LC_ALL", "C", 1);
    ASSERT_TRUE(PathExists(VeltroBinary())) << VeltroBinary();
  }
  ProcessResult Veltro(std::vector<std::string> args) {
    args.insert(args.begin(), VeltroBinary());
    return RunProcess(args, dir.Path());
  }
  std::string Out(const std::string& name) { return ReadFileText(dir.File(name)); }
  // The report of an unhandled failure, up to the address, and the message line.
  static void ExpectReport(const ProcessResult& r, const std::string& cls,
                           const std::string& message) {
    EXPECT_EQ(r.exitCode, 1);
    const std::string head = "Exception " + cls + " in module ";
    ASSERT_EQ(r.out.substr(0, head.size()), head) << r.out;
    // The module is the program's file name, without its directory.
    const std::size_t at = r.out.find(" at ");
    ASSERT_NE(at, std::string::npos) << r.out;
    const std::string module = r.out.substr(head.size(), at - head.size());
    EXPECT_FALSE(module.empty());
    EXPECT_EQ(module.find_first_of("/\\"), std::string::npos) << module;
    const std::size_t eol = r.out.find(".\r\n");
    ASSERT_NE(eol, std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(eol + 3), message + "\r\n");
  }
  TempDir dir;
};

const std::string kCustomerHeader = "ID\tNAME\tADDRESS\tCITY\tZIP\tBALANCE\tSINCE\tNOTES\r\n";
const std::string kCustomerLines =
    "1\tSmith       \t\tRome    \t00100   \t12.5\t2000-01-01\tfirst\r\n"
    "2\tsay \"hi\"    \t\tOslo    \t0150    \t-3.25\t\t\r\n"
    "3\tO'Neil      \t\tBergen  \t5003    \t0\t2019-08-22\ta \"note\"\r\n";

}  // namespace

TEST_F(VeltroRun, UsageAndBadSwitchNumber) {
  const ProcessResult usage = Veltro({"only-one-argument"});
  EXPECT_EQ(usage.exitCode, 0);
  EXPECT_EQ(usage.out, UsageText());
  EXPECT_EQ(Veltro({}).out, usage.out);

  WriteShop(dir.File("shop.tps"));
  ExpectReport(Veltro({"shop.tps", "out.txt", "/delimiter=\\x"}), "EConvertError",
               "'x' is not a valid integer value.");
  ExpectReport(Veltro({"shop.tps", "out.txt", "/qualifier=\\"}), "EConvertError",
               "'' is not a valid integer value.");
  EXPECT_FALSE(PathExists(dir.File("out.CUSTOMER.txt")));
}

TEST_F(VeltroRun, DefaultsWriteEveryTable) {
  WriteShop(dir.File("shop.tps"));
  const ProcessResult r = Veltro({"shop.tps", "out.txt"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Out("out.CUSTOMER.txt"), kCustomerLines);
  EXPECT_EQ(Out("out.ORDERS.txt"), "1\t1\r\n2\t3\r\n");
  EXPECT_FALSE(PathExists(dir.File("out.txt")));
}

TEST_F(VeltroRun, HeaderTypeLineAndRecordSeparator) {
  WriteShop(dir.File("shop.tps"));
  ProcessResult r = Veltro({"shop.tps", "out.txt", "/H", "/f"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Out("out.CUSTOMER.txt"),
            kCustomerHeader + "L\tC\tG\tC\tC\tD\tD\tM\r\n" + kCustomerLines);
  EXPECT_EQ(Out("out.ORDERS.txt"), "NO\tCUST\r\nS\tL\r\n1\t1\r\n2\t3\r\n");

  r = Veltro({"shop.tps", "o.csv", "/h", "/recordseparator=LF", "/delimiter=;", "/table=ORDERS"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Out("o.ORDERS.csv"), "NO;CUST\n1;1\n2;3\n");
  EXPECT_FALSE(PathExists(dir.File("o.CUSTOMER.csv")));
}

TEST_F(VeltroRun, FixedWidthWithoutDelimiter) {
  WriteShop(dir.File("shop.tps"));
  const ProcessResult r = Veltro(
      {"shop.tps", "fixed", "/fixed", "/delimiter=\\0", "/h", "/fields=since;balance;name;id"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  // Widths: ID 8, NAME 12, BALANCE 15, SINCE 5 (a longer date is written whole).
  EXPECT_EQ(Out("fixed.CUSTOMER"),
            "ID      NAME        BALANCE        SINCE\r\n" + std::string(7, ' ') + "1Smith" +
                std::string(7 + 11, ' ') + "12.52000-01-01\r\n" + std::string(7, ' ') +
                "2say \"hi\"" + std::string(4 + 10, ' ') + "-3.25" + std::string(5, ' ') + "\r\n" +
                std::string(7, ' ') + "3O'Neil" + std::string(6 + 14, ' ') + "02019-08-22\r\n");
}

TEST_F(VeltroRun, QualifierFieldsAndGroups) {
  WriteShop(dir.File("shop.tps"));
  ProcessResult r =
      Veltro({"shop.tps", "q.txt", "/qualifier=\\34", "/table=CUSTOMER", "/FIELDS=notes;NAME"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Out("q.CUSTOMER.txt"),
            "\"Smith       \"\t\"first\"\r\n"
            "\"say \"\"hi\"\"    \"\t\r\n"
            "\"O'Neil      \"\t\"a \"\"note\"\"\"\r\n");

  r = Veltro({"shop.tps", "g.txt", "/group=0", "/table=CUSTOMER", "/h"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Out("g.CUSTOMER.txt").substr(0, 46),
            "ID\tNAME\tCITY\tZIP\tBALANCE\tSINCE\tNOTES\r\n1\tSmith ");
}

TEST_F(VeltroRun, TableNamesAndList) {
  WriteTwoTables(dir.File("case.tps"), "Orders", "ORDERS");
  ProcessResult r = Veltro({"case.tps", "t.txt", "/table=ORDERS"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Out("t.ORDERS.txt"), "22\r\n");
  EXPECT_FALSE(PathExists(dir.File("t.Orders.txt")));

  r = Veltro({"case.tps", "t.txt", "/table=orders"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "Table name: orders not found in TPS file.\r\n");
  EXPECT_FALSE(PathExists(dir.File("t.orders.txt")));

  r = Veltro({"case.tps", "t.txt", "/LISTTABLES", "/delimiter=,"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "TableNumber,TableName\r\n1,Orders\r\n2,ORDERS\r\n");
  // A NUL delimiter is printed as it is.
  r = Veltro({"case.tps", "t.txt", "/list", "/delimiter=\\0"});
  EXPECT_EQ(r.out, std::string("TableNumber\0TableName\r\n1\0Orders\r\n2\0ORDERS\r\n", 43));
  EXPECT_FALSE(PathExists(dir.File("t.txt")));
}

TEST_F(VeltroRun, MissingSourceAndDirectorySource) {
  ProcessResult r = Veltro({"nothing.tps", "out.txt"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "TopSpeed TPS file not found.\r\n");
  std::filesystem::create_directory(dir.File("folder.tps"));
  r = Veltro({"folder.tps", "out.txt"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "TopSpeed TPS file not found.\r\n");
  EXPECT_FALSE(PathExists(dir.File("out.txt")));
}

TEST_F(VeltroRun, FailuresAreReported) {
  WriteShop(dir.File("shop.tps"));
  ExpectReport(Veltro({"shop.tps", "nodir/out.txt"}), "EFCreateError",
               "Cannot create file nodir/out.CUSTOMER.txt.");
  // Writing to a full device is a failure, not a success.
  WriteTwoTables(dir.File("two.tps"), "UNNAMED", "OTHER");
  ExpectReport(Veltro({"two.tps", "/dev/full", "/table=UNNAMED"}), "EWriteError",
               "Cannot write file /dev/full.");
  // Not a TopSpeed file.
  WriteFileText(dir.File("bad.tps"), std::string(600, 'x'));
  const ProcessResult r = Veltro({"bad.tps", "out.txt"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("File signature is not correct."), std::string::npos) << r.out;
}

TEST_F(VeltroRun, OutputsStayBesideTargetAndNeverOverwrite) {
  // Two tables of the same name: the second goes to a name with its table number.
  WriteTwoTables(dir.File("two.tps"), "UNNAMED", "UNNAMED");
  std::filesystem::create_directory(dir.File("sub"));
  ProcessResult r = Veltro({"two.tps", "sub/out.txt"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Out("sub/out.txt"), "11\r\n");
  EXPECT_EQ(Out("sub/out.2.txt"), "22\r\n");

  WriteTwoTables(dir.File("same.tps"), "T", "T");
  r = Veltro({"same.tps", "sub/data.txt"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Out("sub/data.T.txt"), "11\r\n");
  EXPECT_EQ(Out("sub/data.T.2.txt"), "22\r\n");

  // A table name cannot lead out of Target's directory.
  WriteTwoTables(dir.File("evil.tps"), "../evil", "/abs:x");
  r = Veltro({"evil.tps", "sub/e.txt"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Out("sub/e..._evil.txt"), "11\r\n");
  EXPECT_EQ(Out("sub/e._abs_x.txt"), "22\r\n");
  EXPECT_FALSE(PathExists(dir.File("evil.txt")));
  EXPECT_FALSE(PathExists(dir.File("e..txt")));

  // The source file itself is never replaced by a table's text.
  r = Veltro({"two.tps", "two.tps"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Out("two.1.tps"), "11\r\n");
  EXPECT_EQ(Out("two.2.tps"), "22\r\n");
  EXPECT_EQ(Veltro({"two.tps", "x.txt", "/list"}).out,
            "TableNumber\tTableName\r\n1\tUNNAMED\r\n2\tUNNAMED\r\n");
}

TEST_F(VeltroRun, RealSampleFiles) {
  const std::string samples = SamplesDir();
  if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent";
  ProcessResult r = Veltro({samples + "/table.tps", "t.txt", "/h", "/f"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Out("t.txt"), "OUDNR\tNEWNR\r\nS\tS\r\n1\t1\r\n");

  r = Veltro({samples + "/table-with-time.TPS", "time.txt", "/h", "/recordseparator=lf"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Out("time.txt"), "ClockIn\tClockOut\n06:23:15\t12:59:59\n");

  r = Veltro({samples + "/table-with-memos.tps", "m.txt", "/qualifier=\\34", "/fields=notes;name",
              "/delimiter=,"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Out("m.txt"), "\"Joe Smith" + std::string(55, ' ') +
                              "\",\"Joe is a great guy to work with.\"\r\n" + "\"Jane Jones" +
                              std::string(54, ' ') +
                              "\",\"Jane knows how to make a great pot of coffee.\"\r\n" +
                              "\"John NoNotes" + std::string(52, ' ') + "\",\r\n" +
                              "\"Jimmy OneNote" + std::string(51, ' ') + "\",\r\n");

  // Rows placed by record number, negative decimals, and a count of every line.
  r = Veltro({samples + "/INVHIST.TPS", "inv.txt", "/fields=date;quantity;cost;type"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  const std::string inv = Out("inv.txt");
  EXPECT_EQ(inv.substr(0, 22), "82034\tAdj.   \t88\t6.9\r\n");
  EXPECT_EQ(std::count(inv.begin(), inv.end(), '\n'), 2118);
  EXPECT_EQ(inv.substr(inv.size() - 20), "82134\tSale   \t-7\t8\r\n");

  // A comma inside a value is safe with a comma delimiter and a qualifier.
  r = Veltro({samples + "/Vendors.tps", "v.csv", "/delimiter=,", "/qualifier=\\34",
              "/fields=vendornumber;vendorname"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  const std::string vendors = Out("v.csv");
  EXPECT_NE(vendors.find("\"7\",\"Plants, Plants, Plants" + std::string(13, ' ') + "\"\r\n"),
            std::string::npos);
  EXPECT_EQ(std::count(vendors.begin(), vendors.end(), '\n'), 22);

  r = Veltro({samples + "/Vendors.tps", "v.txt", "/list"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("\tUNNAMED\r\n"), std::string::npos) << r.out;

  r = Veltro({samples + "/bad-header.dat", "b.txt"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("File signature is not correct."), std::string::npos) << r.out;
}

TEST_F(VeltroRun, LinesWrittenBeforeAFailureStay) {
  WriteShop(dir.File("shop.tps"));
  // The second table's file cannot be created: the first table's file is complete.
  std::filesystem::create_directory(dir.File("out.ORDERS.txt"));
  ExpectReport(Veltro({"shop.tps", "out.txt", "/h"}), "EFCreateError",
               "Cannot create file out.ORDERS.txt.");
  EXPECT_EQ(Out("out.CUSTOMER.txt"), kCustomerHeader + kCustomerLines);

  // A filter that fails on the first row: the header line written before it stays.
  const ProcessResult r = Veltro({"shop.tps", "f.txt", "/h", "/where=x", "/table=ORDERS"});
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_EQ(r.out.substr(0, 10), "Exception ");
  EXPECT_EQ(Out("f.ORDERS.txt"), "NO\tCUST\r\n");
}

TEST_F(VeltroRun, ImpossibleDatesGiveOneWarningOnStandardError) {
  tpsw::Table t;
  t.name = "D";
  t.fields = {tpsw::Field{tpsw::kLong, "D:ID", 0, 4}, tpsw::Field{tpsw::kDate, "D:WHEN", 4, 4}};
  tpsw::Writer w(dir.File("dates.tps"));
  w.AddTable(t);
  for (int i = 1; i <= 3; ++i) {
    tpsw::Payload p(t.RecordLength());
    p.PutLong(0, i);
    if (i == 2)
      p.PutDate(4, 2020, 2, 2);
    else
      p.PutDate(4, 2019, 13, 40);  // no such month or day
    w.AddRow(t.number, i, p);
  }
  w.Finish();
  const ProcessResult r = Veltro({"dates.tps", "d.txt"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.substr(0, 11), "Warning: 2 ");
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
  EXPECT_EQ(Out("d.D.txt"), "1\t\r\n2\t2020-02-02\r\n3\t\r\n");
}

// A file holding about 95 MB of memo and BLOB text: the load keeps where the pieces lie,
// not their bytes, and a row's texts are read when the row is, so the program's peak
// memory stays well below the text. A filter that no row passes reads every row with
// its memos and writes none.
TEST_F(VeltroRun, MemoHeavyFileTakesLittleMemory) {
  if (std::getenv("VELTRO_UNDER_TEST")) GTEST_SKIP() << "another program's memory";
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers' shadow memory and quarantine, not the program's";
#endif
  const std::string file = dir.File("memos.tps");
  const tpsw::BenchResult written = tpsw::WriteBench(file, 100, "", true);
  ASSERT_GT(written.memoBytes, std::uint64_t(90) << 20);
  const ProcessResult r = Veltro({file, "out.txt", "/h", "/where=LENGTH(NOTE)<0"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(Out("out.SALES.txt").substr(0, 3), "ID\t");
  ASSERT_GT(r.peakMemoryKb, 0);
  EXPECT_LT(r.peakMemoryKb, 60 * 1024);
}

TEST_F(VeltroRun, StandardOutputThatCannotBeWrittenIsAFailure) {
  WriteShop(dir.File("shop.tps"));
  const ProcessResult r = RunProcess(
      {"/bin/sh", "-c", "'" + VeltroBinary() + "' shop.tps x.txt /list > /dev/full"}, dir.Path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Cannot write file standard output.\r\n"), std::string::npos) << r.err;

  // A failure whose report cannot reach standard output reports on standard error.
  WriteFileBytes(dir.File("text.tps"), std::vector<std::uint8_t>(600, 'x'));
  const ProcessResult bad = RunProcess(
      {"/bin/sh", "-c", "'" + VeltroBinary() + "' text.tps x.txt > /dev/full"}, dir.Path());
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_EQ(bad.err.rfind("Exception EKvIFileFormatException in module ", 0), 0u) << bad.err;
  EXPECT_NE(bad.err.find("give its owner password with /OWNER=.\r\n"), std::string::npos)
      << bad.err;
  EXPECT_NE(bad.err.find("Cannot write file standard output.\r\n"), std::string::npos) << bad.err;
}
