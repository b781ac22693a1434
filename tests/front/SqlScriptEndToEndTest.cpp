// /FORMAT=SQL run as a program: the whole script of a written file, the row filter and
// field list, and a failed run that leaves the target as it was.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "TestSupport.h"
#include "tpswriter/TpsWriter.h"

namespace {

void WriteOrders(const std::string& path) {
  tpsw::Table t;
  t.number = 3;
  t.name = "ORDERS";
  t.fields = {tpsw::Field{tpsw::kLong, "ORD:NO", 0, 4},
              tpsw::Field{tpsw::kString, "ORD:WHO", 4, 8},
              tpsw::Field{tpsw::kCString, "ORD:Who", 12, 6},
              tpsw::Field{tpsw::kDecimal, "ORD:AMOUNT", 18, 5, 1, 2},
              tpsw::Field{tpsw::kDate, "ORD:DAY", 23, 4},
              tpsw::Field{tpsw::kTime, "ORD:AT", 27, 4},
              tpsw::Field{tpsw::kLong, "ORD:QTY", 31, 12, 3}};
  // Key components name fields by their index, counted from 0 as in real files.
  for (std::size_t i = 0; i < t.fields.size(); ++i) t.fields[i].index = int(i);
  t.memos = {tpsw::Memo{"ORD:NOTE"}};
  t.keys = {tpsw::Key{"ORD:BYNO", {tpsw::KeyPart{0}}},
            tpsw::Key{"ORD:BYDAY", {tpsw::KeyPart{4}, tpsw::KeyPart{1}}}};
  tpsw::Writer w(path);
  w.AddTable(t);
  tpsw::AddTextRows(w, t,
                    {{"1", "Smith", "x\\y", "-12.5", "2000-01-31", "6.23.15.47", "1|2|3", "a\tb"},
                     {"2", "O'Neil", "", "7", "", "", "4||6", ""}});
  w.Finish();
}

std::string RunIn(const TempDir& dir, std::vector<std::string> args, int expectedExit = 0) {
  args.insert(args.begin(), VeltroBinary());
  const ProcessResult r = RunProcess(args, dir.Path());
  EXPECT_EQ(r.exitCode, expectedExit) << r.out << r.err;
  return r.out + r.err;
}

}  // namespace

TEST(SqlScriptRun, WholeScriptFilterFieldsAndFailure) {
  setenv("LC_ALL", "C", 1);
  TempDir dir;
  WriteOrders(dir.File("shop.tps"));
  const std::vector<std::uint8_t> source = ReadFileBytes(dir.File("shop.tps"));
  const std::string messages = RunIn(dir, {"shop.tps", "shop.sql", "/FORMAT=SQL"});
  EXPECT_EQ(
      messages,
      "Warning: 1 column names repeated in their table were given a suffix (_2, _3, ...).\r\n");
  EXPECT_EQ(ReadFileText(dir.File("shop.sql")),
            "SET client_encoding = 'UTF8';\n"
            "BEGIN;\n"
            "\n"
            "DROP TABLE IF EXISTS \"ORDERS\";\n"
            "CREATE TABLE \"ORDERS\" (\n"
            "  \"NO\" integer,\n"
            "  \"WHO\" text,\n"
            "  \"Who_2\" text,\n"
            "  \"AMOUNT\" numeric(9,2),\n"
            "  \"DAY\" date,\n"
            "  \"AT\" time(2),\n"
            "  \"QTY\" integer[],\n"
            "  \"NOTE\" text\n"
            ");\n"
            "COPY \"ORDERS\" (\"NO\", \"WHO\", \"Who_2\", \"AMOUNT\", \"DAY\", \"AT\", \"QTY\", "
            "\"NOTE\") FROM stdin;\n"
            "1\tSmith\tx\\\\y\t-12.50\t2000-01-31\t06:23:15.47\t{1,2,3}\ta\\tb\n"
            "2\tO'Neil\t\t7.00\t\\N\t\\N\t{4,0,6}\t\\N\n"
            "\\.\n"
            "CREATE INDEX \"ORDERS_BYNO\" ON \"ORDERS\" (\"NO\");\n"
            "CREATE INDEX \"ORDERS_BYDAY\" ON \"ORDERS\" (\"DAY\", \"WHO\");\n"
            "COMMIT;\n");

  // Only the rows that pass and the fields named; a key over a field left out makes no index.
  RunIn(dir, {"shop.tps", "part.sql", "/format=sql", "/where=NO=2", "/fields=qty;no"});
  const std::string part = ReadFileText(dir.File("part.sql"));
  EXPECT_NE(part.find("COPY \"ORDERS\" (\"NO\", \"QTY\") FROM stdin;\n2\t{4,0,6}\n\\.\n"
                      "CREATE INDEX \"ORDERS_BYNO\" ON \"ORDERS\" (\"NO\");\nCOMMIT;\n"),
            std::string::npos)
      << part;

  // A filter failing at the first row: the old target stays, no half script is left.
  WriteFileText(dir.File("old.sql"), "old");
  const std::string failed = RunIn(dir, {"shop.tps", "old.sql", "/format=sql", "/where=WHO"}, 1);
  EXPECT_NE(failed.find("EVariantTypeCastError"), std::string::npos) << failed;
  EXPECT_EQ(ReadFileText(dir.File("old.sql")), "old");
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
    files.push_back(e.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"old.sql", "part.sql", "shop.sql", "shop.tps"}));

  // Never renamed over the source.
  EXPECT_NE(RunIn(dir, {"shop.tps", "shop.tps", "/format=sql"}, 1).find("it is the source"),
            std::string::npos);
  EXPECT_EQ(ReadFileBytes(dir.File("shop.tps")), source);

  EXPECT_NE(RunIn(dir, {"shop.tps", "x.sql", "/format=xml"}, 1)
                .find("Unknown output form /FORMAT=xml: give TEXT, JSONL, SQLITE or SQL"),
            std::string::npos);
  EXPECT_FALSE(PathExists(dir.File("x.sql")));
}
