// Text for other tools, end to end: /CSV and the switches it is made of on files the
// project's writer makes, UTF-8 from several code pages, BLOBs as files from the real
// Products.tps, and the messages for bad values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "tpswriter/TpsWriter.h"

namespace {

using namespace std::literals;

// Whether the program under test is the Windows build (tools/test-windows.sh names its
// launcher, which lives in the Windows build folder).
bool UnderWindows() {
  const char* other = std::getenv("VELTRO_UNDER_TEST");
  return other != nullptr && std::string(other).find("win") != std::string::npos;
}

class OtherTools : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("LC_ALL", "C", 1);
    ASSERT_TRUE(PathExists(VeltroBinary())) << VeltroBinary();
  }
  ProcessResult Veltro(std::vector<std::string> args) {
    args.insert(args.begin(), VeltroBinary());
    return RunProcess(args, dir.Path());
  }
  std::string Out(const std::string& name) { return ReadFileText(dir.File(name)); }
  TempDir dir;
};

// ITEMS: a padded string, a DECIMAL of 19 digits, a date, a time, a LONG holding a day
// number, a memo and a BLOB.
void WriteItems(const std::string& path) {
  tpsw::Table t;
  t.number = 1;
  t.name = "ITEMS";
  t.fields = {tpsw::Field{tpsw::kLong, "I:ID", 0, 4},
              tpsw::Field{tpsw::kString, "I:NAME", 4, 10},
              tpsw::Field{tpsw::kDecimal, "I:PRICE", 14, 10, 1, 2},
              tpsw::Field{tpsw::kDate, "I:DAY", 24, 4},
              tpsw::Field{tpsw::kTime, "I:AT", 28, 4},
              tpsw::Field{tpsw::kLong, "I:INV", 32, 4}};
  t.memos = {tpsw::Memo{"I:NOTE"}, tpsw::Memo{"I:PIC", true}};
  tpsw::Writer w(path);
  w.AddTable(t);
  tpsw::AddTextRows(w, t,
                    {{"1", "Caf\xE9", "12345678901234567.89", "2020-02-29", "13:30:05:25", "82034",
                      "line1\r\nline2, \"q\"", std::string("\0\1BM\xFF", 5)},
                     {"2", "a,b", "-5", "", "", "0", "", ""},
                     {"3", "x", "-0.01", "1801-01-01", "23:59:59:99", "99999999", "", ""}});
  w.Finish();
}

TEST_F(OtherTools, CsvAndItsSwitches) {
  WriteItems(dir.File("items.tps"));
  const std::string bom = "\xEF\xBB\xBF";
  const struct {
    std::vector<std::string> args;
    std::string text;
    std::string err;
  } cases[] = {
      {{"/CSV"},
       "ID,NAME,PRICE,DAY,AT,INV,NOTE,PIC\r\n"
       "1,Café      ,12345678901234567.89,2020-02-29,13:30:05.25,82034,"
       "\"line1\r\nline2, \"\"q\"\"\",AAFCTf8=\r\n"
       "2,\"a,b       \",-5.00,,,0,,\r\n"
       "3,x         ,-0.01,1801-01-01,23:59:59.99,99999999,,\r\n",
       ""},
      {{"/csv", "/trim", "/DATES=inv"},
       "ID,NAME,PRICE,DAY,AT,INV,NOTE,PIC\r\n"
       "1,Café,12345678901234567.89,2020-02-29,13:30:05.25,2025-08-04,"
       "\"line1\r\nline2, \"\"q\"\"\",AAFCTf8=\r\n"
       "2,\"a,b\",-5.00,,,,,\r\n"
       "3,x,-0.01,1801-01-01,23:59:59.99,,,\r\n",
       "Warning: 1 impossible date or time values were written as empty text.\r\n"},
      {{"/CSV", "/delimiter=\\59", "/BLOB=HEX", "/BOM", "/TRIM"},
       bom + "ID;NAME;PRICE;DAY;AT;INV;NOTE;PIC\r\n"
             "1;Café;12345678901234567.89;2020-02-29;13:30:05.25;82034;"
             "\"line1\r\nline2, \"\"q\"\"\";0001424DFF\r\n"
             "2;a,b;-5.00;;;0;;\r\n"
             "3;x;-0.01;1801-01-01;23:59:59.99;99999999;;\r\n",
       ""},
      // The default rules with the new switches left out: only the DECIMAL that would
      // lose digits is written differently from before.
      {{"/h", "/qualifier=\\34", "/blob=omit", "/TIMES=at"},
       "\"ID\"\t\"NAME\"\t\"PRICE\"\t\"DAY\"\t\"AT\"\t\"INV\"\t\"NOTE\"\t\"PIC\"\r\n"
       "\"1\"\t\"Caf\xE9      \"\t\"12345678901234567.89\"\t\"2020-02-29\"\t\"13:30:05\"\t"
       "\"82034\"\t\"line1\r\nline2, \"\"q\"\"\"\t\r\n"
       "\"2\"\t\"a,b       \"\t\"-5\"\t\t\t\"0\"\t\t\r\n"
       "\"3\"\t\"x         \"\t\"-0.01\"\t\"1801-01-01\"\t\"23:59:59\"\t\"99999999\"\t\t\r\n",
       "Warning: /TIMES= names no LONG field of the tables converted: at.\r\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"items.tps", "out.csv"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProcessResult r = Veltro(args);
    EXPECT_EQ(r.exitCode, 0) << c.args[0] << r.out;
    EXPECT_EQ(r.err, c.err) << c.args[0];
    EXPECT_EQ(Out("out.ITEMS.csv"), c.text) << c.args[0];
  }
}

// Texts, memos, field names and the table name in the output file's name, transcoded
// from three code pages; the expected characters are written out here.
TEST_F(OtherTools, Utf8FromCodePages) {
  const struct {
    const char* codePage;
    std::string table, field, value, memo;  // bytes of the code page
    std::string tableUtf8, fieldUtf8, valueUtf8, memoUtf8;
  } cases[] = {
      {"850", "CAF\x90", "C:PR\x82NOM", "Gar\x87on", "\x9B ok", "CAFÉ", "PRéNOM", "Garçon", "ø ok"},
      {"cp866", "\x92\x80\x81", "C:\x88\x8C\x9F", "\x8F\xE0\xA8\xA2\xA5\xE2", "\xAC\xA8\xE0", "ТАБ",
       "ИМЯ", "Привет", "мир"},
      {"Windows-1250", "\x8Akoda", "C:\x8E\x65na", "P\xF8\xEDli\x9A", "\x9Elu\x9Dou\xE8k\xFD",
       "Škoda", "Žena", "Příliš", "žluťoučký"},
  };
  for (const auto& c : cases) {
    tpsw::Table t;
    t.number = 1;
    // Windows names files in its own code page: the table name there stays ASCII.
    t.name = UnderWindows() ? "T"s + c.codePage : c.table;
    t.fields = {tpsw::Field{tpsw::kString, c.field, 0, 12}};
    t.memos = {tpsw::Memo{"C:NOTE"}};
    tpsw::WriteFixture(dir.File("cp.tps"), t, {{c.value, c.memo}});
    const ProcessResult r =
        Veltro({"cp.tps", "out.txt", "/UTF8", "/codepage="s + c.codePage, "/h", "/TRIM"});
    EXPECT_EQ(r.exitCode, 0) << c.codePage << r.out;
    const std::string file = "out." + (UnderWindows() ? t.name : c.tableUtf8) + ".txt";
    EXPECT_EQ(Out(file), c.fieldUtf8 + "\tNOTE\r\n" + c.valueUtf8 + "\t" + c.memoUtf8 + "\r\n")
        << c.codePage;
    std::filesystem::remove(dir.File(file));
  }
  // UTF-8 itself is checked: an invalid sequence becomes U+FFFD and is counted.
  tpsw::Table t;
  t.number = 1;
  t.name = "UNNAMED";
  t.fields = {tpsw::Field{tpsw::kString, "C:NAME", 0, 8}};
  tpsw::WriteFixture(dir.File("u.tps"), t, {{"\xC3\xA9t\xE9x\x80"}});
  const ProcessResult r = Veltro({"u.tps", "u.txt", "/CODEPAGE=utf-8", "/UTF8", "/trim"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Out("u.txt"), "ét\xEF\xBF\xBDx\xEF\xBF\xBD\r\n");
  EXPECT_EQ(r.err, "Warning: 2 invalid UTF-8 sequences were written as U+FFFD.\r\n");
}

TEST_F(OtherTools, BadValuesEndTheRunBeforeAnyFile) {
  WriteItems(dir.File("items.tps"));
  const struct {
    std::vector<std::string> args;
    const char* words;
  } cases[] = {
      {{"/CODEPAGE=1259"}, "Unknown code page: \"1259\". Accepted: 437, 850"},
      {{"/csv", "/fixed"}, "/CSV and /FIXED cannot be used together"},
      {{"/blob=png"}, "Unknown value of /BLOB=: \"png\""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"items.tps", "out.csv"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProcessResult r = Veltro(args);
    EXPECT_EQ(r.exitCode, 1) << c.words;
    EXPECT_NE(r.out.find(c.words), std::string::npos) << r.out;
    EXPECT_FALSE(PathExists(dir.File("out.ITEMS.csv"))) << c.words;
  }
}

// The pictures of Products.tps: one .bmp file a row, each holding exactly the bytes of
// a BLOB as the hex form writes them, the cell holding the file's relative path.
TEST_F(OtherTools, ProductPicturesAsFiles) {
  const std::string samples = SamplesDir();
  if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent";
  const ProcessResult r = Veltro({samples + "/Products.tps", "out.csv", "/CSV", "/BLOB=FILES"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const ProcessResult h = Veltro({samples + "/Products.tps", "hex.csv", "/CSV", "/BLOB=HEX"});
  ASSERT_EQ(h.exitCode, 0) << h.out << h.err;
  const std::string csv = Out("out.csv"), hex = Out("hex.csv");
  const char sep = UnderWindows() ? '\\' : '/';
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("out.blobs"))) {
    const std::string name = entry.path().filename().string();
    ASSERT_EQ(name.rfind("Products.IMAGEBLOB.", 0), 0u) << name;
    ASSERT_EQ(name.substr(name.size() - 4), ".bmp") << name;
    const std::vector<std::uint8_t> bytes = ReadFileBytes(entry.path().string());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    std::string digits = ",";
    for (const std::uint8_t b : bytes) {
      digits += "0123456789ABCDEF"[b >> 4];
      digits += "0123456789ABCDEF"[b & 15];
    }
    EXPECT_NE(hex.find(digits + "\r\n"), std::string::npos) << name;
    EXPECT_NE(csv.find(",out.blobs"s + sep + name + "\r\n"), std::string::npos) << name;
    ++files;
  }
  EXPECT_EQ(files, 31);
  EXPECT_EQ(ReadFileBytes(dir.File("out.blobs/Products.IMAGEBLOB.2.bmp")).size(), 6880u);
  EXPECT_EQ(ReadFileBytes(dir.File("out.blobs/Products.IMAGEBLOB.32.bmp")).size(), 6592u);
}

}  // namespace
