// Runs the program with /FORMAT=JSONL and /FORMAT=SQLITE: every real sample agrees cell
// by cell with its text export (read back by Python's json and sqlite3 modules), one
// index per key; several files into one database, a table replaced, a failed table
// left out whole, /WHERE and /FIELDS. The Windows program is run without any SQLite
// library beside it: it must say so.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../../fuzz/TpsFeatureFiles.h"
#include "TestSupport.h"
#include "cells/KvExceptions.h"
#include "out/SqliteDb.h"
#include "tps/KvTPS.h"
#include "tpswriter/TpsWriter.h"

namespace {

// The program under test is the Windows one, run through Wine without SQLite.
bool WithoutSqlite() { return std::getenv("VELTRO_UNDER_TEST") != nullptr; }

const char kPython[] = "/usr/bin/python3";

class TypedRun : public ::testing::Test {
 protected:
  void SetUp() override { setenv("LC_ALL", "C", 1); }
  ProcessResult Veltro(std::vector<std::string> args) {
    args.insert(args.begin(), VeltroBinary());
    return RunProcess(args, dir.Path());
  }
  // Converts into the database; false (with the message checked) for the Windows
  // program, which has no SQLite library to load here.
  bool ToDatabase(std::vector<std::string> args, int exitCode = 0) {
    args.push_back("/FORMAT=SQLITE");
    const ProcessResult r = Veltro(args);
    if (WithoutSqlite()) {
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_NE(r.out.find("SQLite is not available: neither sqlite3.dll"), std::string::npos)
          << r.out;
      return false;
    }
    EXPECT_EQ(r.exitCode, exitCode) << r.out << r.err;
    lastOut = r.out;
    return true;
  }
  std::vector<std::string> Query(const std::string& sql) {
    TSqliteDatabase db(dir.File("all.db"));
    return db.QueryTexts(sql);
  }
  TempDir dir;
  std::string lastOut;
};

// Keys with components of the sample's one table.
std::size_t KeysOf(const std::string& path) {
  TClarionTPS r;
  r.LoadFromFile(path);
  std::size_t n = 0;
  if (const auto* t = dynamic_cast<const TTPSClarionTable*>(&r.Sheets()[0]))
    for (const TTPSKey& k : t->Keys) n += k.Components.empty() ? 0 : 1;
  return n;
}

TEST_F(TypedRun, EverySampleAgreesWithItsTextExport) {
  if (SamplesDir().empty()) GTEST_SKIP() << "no sample files";
  if (!PathExists(kPython)) GTEST_SKIP() << "no python3";
  const std::string script = std::string(VELTRO_SOURCE_DIR) + "/tests/front/check_typed_outputs.py";
  const struct {
    const char* file;
    const char* table;
    const char* blob = nullptr;  // a /BLOB= switch
  } samples[] = {{"table.tps", "table"},
                 {"table-with-time.TPS", "table-with-time"},
                 {"table-with-memos.tps", "table-with-memos"},
                 {"array-of-groups.TPS", "array-of-groups"},
                 {"not-encrypted.tps", "not-encrypted"},
                 {"Vendors.tps", "Vendors"},
                 {"INVHIST.TPS", "INVHIST"},
                 {"Products.tps", "Products"},
                 // Files beside each target holding the bytes, the values their paths.
                 {"Products.tps", "Products", "/BLOB=FILES"},
                 {"Zipcodes.tps", "Zipcodes"}};
  for (const auto& s : samples) {
    SCOPED_TRACE(s.file);
    const std::string source = SamplesDir() + "/" + s.file;
    ASSERT_EQ(Veltro({source, "t.txt", "/h", "/f", "/qualifier=\\34"}).exitCode, 0);
    std::vector<std::string> json = {source, "t.jsonl", "/FORMAT=JSONL", "/TRIM=0"}, sqlite = {source, "all.db", "/TRIM=0"};
    if (s.blob) {
      json.push_back(s.blob);
      sqlite.push_back(s.blob);
    }
    const ProcessResult jsonRun = Veltro(json);
    ASSERT_EQ(jsonRun.exitCode, 0) << jsonRun.out << jsonRun.err;
    const bool db = ToDatabase(sqlite);
    const ProcessResult check =
        RunProcess({kPython, script, dir.File("t.txt"), dir.File("t.jsonl"),
                    db ? dir.File("all.db") : "-", s.table, "0", s.blob ? "files" : ""});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_NE(check.out.find(" cells"), std::string::npos) << check.out;
    EXPECT_NE(check.out.substr(0, 2), "0 ") << check.out;
    if (db) {
      EXPECT_EQ(Query("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND tbl_name = '" +
                      std::string(s.table) + "'"),
                std::vector<std::string>{std::to_string(KeysOf(source))});
    }
  }
  // BLOBs as hexadecimal text: Products' pictures are bitmaps ("BM").
  ASSERT_EQ(
      Veltro({SamplesDir() + "/Products.tps", "p.jsonl", "/format=jsonl", "/blob=hex"}).exitCode,
      0);
  EXPECT_NE(ReadFileText(dir.File("p.jsonl")).find("\"IMAGEBLOB\":\"424D"), std::string::npos);
  if (WithoutSqlite()) return;
  // Every sample went into the one database, each as its own table.
  EXPECT_EQ(Query("SELECT count(*) FROM sqlite_master WHERE type = 'table'"),
            std::vector<std::string>{"9"});
  // STRING padding is trimmed unless /TRIM=0 keeps it.
  ToDatabase({SamplesDir() + "/Vendors.tps", "all.db"});
  EXPECT_EQ(Query("SELECT VENDORNAME || '|' || STATE || '|' || PHONENUMBER FROM Vendors "
                  "WHERE VENDORNUMBER = 1"),
            std::vector<std::string>{"Doug's Digs|FL|8005551212"});
  // A file without tables: an empty database and a warning.
  // (header.dat is the header of a longer file alone: it is cut short, exit code 3.)
  ProcessResult none = Veltro({SamplesDir() + "/header.dat", "none.db", "/FORMAT=SQLITE"});
  EXPECT_EQ(none.exitCode, 3) << none.out;
  EXPECT_NE(none.err.find("cut short"), std::string::npos) << none.err;
  EXPECT_NE(none.err.find("no tables"), std::string::npos) << none.err;
  EXPECT_TRUE(PathExists(dir.File("none.db")));
}

// CUSTOMER and ORDERS of a small shop file, and a second file with its own ORDERS.
void WriteShop(const std::string& path, int orders) {
  tpsw::Writer w(path);
  tpsw::Table c, o;
  c.number = 1;
  c.name = "CUSTOMER";
  c.fields = {tpsw::Field{tpsw::kLong, "CUS:ID", 0, 4},
              tpsw::Field{tpsw::kString, "CUS:NAME", 4, 8},
              tpsw::Field{tpsw::kDecimal, "CUS:BALANCE", 12, 5, 1, 2}};
  o.number = 2;
  o.name = "ORDERS";
  o.fields = {tpsw::Field{tpsw::kShort, "ORD:NO", 0, 2}};
  w.AddTable(c);
  w.AddTable(o);
  tpsw::AddTextRows(w, c, {{"1", "Smith", "12.50"}, {"2", "Jones", "-3.25"}, {"3", "Lee", "0"}});
  std::vector<std::vector<std::string>> rows;
  for (int k = 1; k <= orders; ++k) rows.push_back({std::to_string(k)});
  tpsw::AddTextRows(w, o, rows);
  w.Finish();
}

TEST_F(TypedRun, FilesShareADatabaseTablesAreReplacedAndFailuresLeaveNoHalfTable) {
  WriteShop(dir.File("shop.tps"), 2);
  tpsw::Table items;
  items.number = 1;
  items.name = "ITEMS";
  items.fields = {tpsw::Field{tpsw::kLong, "ITM:ID", 0, 4}};
  {
    tpsw::Writer w(dir.File("items.tps"));
    w.AddTable(items);
    tpsw::AddTextRows(w, items, {{"5"}, {"6"}});
    w.Finish();
  }
  if (!ToDatabase({"shop.tps", "all.db"})) return;
  ToDatabase({"items.tps", "all.db"});
  EXPECT_EQ(Query("SELECT group_concat(name) FROM (SELECT name FROM sqlite_master WHERE "
                  "type = 'table' ORDER BY name)"),
            std::vector<std::string>{"CUSTOMER,ITEMS,ORDERS"});
  // A second run replaces the tables it writes, here with the rows of a filter and
  // two of the fields.
  ToDatabase({"shop.tps", "all.db", "/TABLE=CUSTOMER", "/WHERE=ID >= 2", "/FIELDS=balance;id"});
  EXPECT_EQ(Query("SELECT group_concat(name) FROM pragma_table_info('CUSTOMER')"),
            std::vector<std::string>{"ID,BALANCE"});
  EXPECT_EQ(Query("SELECT ID || ':' || BALANCE FROM CUSTOMER ORDER BY rowid"),
            (std::vector<std::string>{"2:-3.25", "3:0"}));

  // A filter that fails in the middle of the table (the last row's OK is no truth value)
  // ends the run there, rows of earlier batches already inserted: the table it would
  // have replaced stays as it was.
  tpsw::Table failing;
  failing.number = 1;
  failing.name = "ITEMS";
  failing.fields = {tpsw::Field(tpsw::kLong, "A:ID", 0, 4),
                    tpsw::Field(tpsw::kString, "A:OK", 4, 1)};
  {
    tpsw::Writer w(dir.File("failing.tps"));
    w.AddTable(failing);
    for (int i = 1; i <= 9000; ++i) {
      tpsw::Payload p(failing.RecordLength());
      p.PutLong(0, i);
      tpsw::PutValue(p, failing.fields[1], i < 9000 ? "1" : "x");
      w.AddRow(failing.number, i, p);
    }
  }
  ToDatabase({"failing.tps", "all.db", "/WHERE=OK"}, 1);
  EXPECT_NE(lastOut.find("EVariantTypeCastError"), std::string::npos) << lastOut;
  EXPECT_EQ(Query("SELECT group_concat(ID) FROM ITEMS"), std::vector<std::string>{"5,6"});
  EXPECT_EQ(Query("SELECT count(*) FROM ORDERS"), std::vector<std::string>{"2"});
  // Without the failing row: every row, in order, over several batches.
  ToDatabase({"failing.tps", "all.db", "/WHERE=ID < 9000"});
  EXPECT_EQ(Query("SELECT count(*) || ' ' || sum(rowid <> ID) FROM ITEMS"),
            std::vector<std::string>{"8999 0"});
}

TEST_F(TypedRun, JsonLinesFilesAreNamedLikeTextOutputsAndABadFormatWritesNothing) {
  WriteShop(dir.File("shop.tps"), 3);
  ProcessResult r = Veltro({"shop.tps", "out.jsonl", "/format=jsonl", "/h"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(ReadFileText(dir.File("out.ORDERS.jsonl")), "{\"NO\":1}\n{\"NO\":2}\n{\"NO\":3}\n");
  r = Veltro({"shop.tps", "out.jsonl", "/format=jsonl", "/table=CUSTOMER", "/WHERE=ID <> 2"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(ReadFileText(dir.File("out.CUSTOMER.jsonl")),
            "{\"ID\":1,\"NAME\":\"Smith\",\"BALANCE\":12.50}\n"
            "{\"ID\":3,\"NAME\":\"Lee\",\"BALANCE\":0.00}\n");

  r = Veltro({"shop.tps", "bad.txt", "/FORMAT=XML"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("/FORMAT=XML"), std::string::npos) << r.out;
  EXPECT_FALSE(PathExists(dir.File("bad.CUSTOMER.txt")));
}

}  // namespace
