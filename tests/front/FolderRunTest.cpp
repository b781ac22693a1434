// End-to-end tests of a folder or pattern source: every file converted in one call, its
// outputs the bytes of a run on that file alone, failures summed up, the exit codes.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "TestSupport.h"
#include "out/SqliteDb.h"
#include "tpswriter/TpsWriter.h"

namespace fs = std::filesystem;

namespace {

// Two tables, CUSTOMER and ORDERS, with Rows rows each; encrypted when Owner is given.
void WriteShopFile(const std::string& path, int rows, const std::string& owner = "") {
  tpsw::Options options;
  options.owner = owner;
  tpsw::Writer w(path, options);
  tpsw::Table c;
  c.number = 1;
  c.name = "CUSTOMER";
  c.fields = {tpsw::Field{tpsw::kLong, "CUS:ID", 0, 4},
              tpsw::Field{tpsw::kString, "CUS:NAME", 4, 12}};
  tpsw::Table o = c;
  o.number = 2;
  o.name = "ORDERS";
  w.AddTable(c);
  w.AddTable(o);
  std::vector<std::vector<std::string>> values;
  for (int i = 1; i <= rows; ++i)
    values.push_back({std::to_string(i), "name " + std::to_string(i)});
  tpsw::AddTextRows(w, c, values);
  tpsw::AddTextRows(w, o, values);
  w.Finish();
}

// Whether the file name ends in ".tps" in any letter case.
bool SameTextExtension(const fs::path& path) {
  std::string ext = path.extension().string();
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".tps";
}

// Every file below Folder by its relative path, with its bytes.
std::map<std::string, std::string> FilesBelow(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file())
      files[fs::relative(e.path(), folder).generic_string()] = ReadFileText(e.path().string());
  return files;
}

std::string Lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Every table of a database with its row count.
std::map<std::string, std::string> TableRows(const std::string& path) {
  TSqliteDatabase db(path);
  std::map<std::string, std::string> rows;
  for (const std::string& name :
       db.QueryTexts("SELECT name FROM sqlite_master WHERE type = 'table'"))
    rows[name] = db.QueryTexts("SELECT count(*) FROM " + QuoteSqlName(name)).at(0);
  return rows;
}

class FolderRun : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("LC_ALL", "C", 1);
    // The Windows program is given its own separator, as typed in cmd.exe.
    const char* under = std::getenv("VELTRO_UNDER_TEST");
    sep = under != nullptr && std::string(under).find("wine") != std::string::npos ? "\\" : "/";
  }
  ProcessResult Veltro(std::vector<std::string> args) {
    args.insert(args.begin(), VeltroBinary());
    return RunProcess(args, dir.Path(), 300);
  }
  static std::string LastLine(const std::string& out) {
    const std::size_t end = out.rfind("\r\n");
    const std::size_t start = out.rfind("\r\n", end == 0 ? 0 : end - 1);
    return out.substr(start == std::string::npos || end == 0 ? 0 : start + 2,
                      end == std::string::npos ? std::string::npos : end - (start + 2));
  }
  TempDir dir;
  std::string sep;
};

TEST_F(FolderRun, EveryFileAsAloneWithAFailureSummed) {
  fs::create_directory(dir.File("app"));
  std::vector<std::string> names;
  if (const std::string samples = SamplesDir(); !samples.empty())
    for (const auto& e : fs::directory_iterator(samples))
      if (SameTextExtension(e.path()))
        fs::copy_file(e.path(), dir.File("app/" + e.path().filename().string()));
  WriteShopFile(dir.File("app/shop.TPS"), 3);
  WriteShopFile(dir.File("app/locked.tps"), 5, "a");
  WriteFileText(dir.File("app/junk.tps"), "not a TopSpeed file at all");
  WriteFileText(dir.File("app/notes.txt"), "left out: not a .tps file");
  std::size_t count = 0;
  for (const auto& e : fs::directory_iterator(dir.File("app")))
    count += SameTextExtension(e.path());

  // Each file alone, into its own folder, gives the reference bytes.
  fs::create_directory(dir.File("single"));
  for (const auto& e : fs::directory_iterator(dir.File("app"))) {
    if (!SameTextExtension(e.path())) continue;
    const std::string name = e.path().filename().string();
    Veltro(
        {"app" + sep + name, "single" + sep + e.path().stem().string() + ".txt", "/h", "/owner=a"});
  }
  const auto single = FilesBelow(dir.File("single"));
  ASSERT_GE(single.size(), 3u);  // shop's two tables and locked's

  for (const char* jobs : {"/jobs=2", "/JOBS=1"}) {
    SCOPED_TRACE(jobs);
    const std::string out = std::string("out") + jobs[6];
    const ProcessResult r = Veltro({"app", out, "/h", "/owner=a", jobs});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(FilesBelow(dir.File(out)), single);
    EXPECT_NE(r.out.find("app" + sep + "junk.tps: File signature is not correct."),
              std::string::npos)
        << r.out;
    const std::string head =
        "Converted " + std::to_string(count - 1) + " of " + std::to_string(count) + " files (";
    EXPECT_EQ(LastLine(r.out).substr(0, head.size()), head) << r.out;
    EXPECT_EQ(LastLine(r.out).substr(LastLine(r.out).find(" s; ")), " s; 1 failed.");
    // Nothing on standard error of a pipe: no progress by default, no warnings here.
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(FolderRun, PatternsSubfoldersTargetsAndProgress) {
  fs::create_directories(dir.File("app/sub"));
  WriteShopFile(dir.File("app/Shop1.TPS"), 2);
  WriteShopFile(dir.File("app/shop22.tps"), 4);
  WriteShopFile(dir.File("app/other.tps"), 1);
  WriteShopFile(dir.File("app/sub/shop3.tps"), 1);

  // "?" one character, "*" any run, letter case ignored; subfolders left alone.
  ProcessResult r = Veltro({"app" + sep + "SH?P*.tps", "out", "/progress"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(LastLine(r.out).substr(0, 46), "Converted 2 of 2 files (4 tables, 12 rows) in ");
  auto files = FilesBelow(dir.File("out"));
  EXPECT_EQ(files.size(), 4u);
  EXPECT_EQ(files["shop22.ORDERS.txt"],
            "1\tname 1      \r\n2\tname 2      \r\n3\tname 3      \r\n"
            "4\tname 4      \r\n");
  EXPECT_TRUE(files.count("Shop1.CUSTOMER.txt"));
  // /PROGRESS on a pipe: plain lines, the last one with every file done.
  EXPECT_NE(r.err.find("Files 2 of 2, "), std::string::npos) << r.err;

  // /RECURSE keeps the subfolders under the target; a single source into a folder.
  r = Veltro({"app" + sep, "rec" + sep, "/recurse", "/table=ORDERS", "/quiet"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(FilesBelow(dir.File("rec"))["sub/shop3.ORDERS.txt"], "1\tname 1      \r\n");
  EXPECT_EQ(FilesBelow(dir.File("rec")).size(), 4u);
  r = Veltro({"app" + sep + "other.tps", "one" + sep});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(FilesBelow(dir.File("one")).size(), 2u);
  EXPECT_TRUE(PathExists(dir.File("one/other.CUSTOMER.txt")));
  // The output form's extension: .csv under /CSV.
  r = Veltro({"app" + sep + "other.tps", "one", "/csv"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(PathExists(dir.File("one/other.ORDERS.csv")));

  // /LIST names each file before its tables.
  r = Veltro({"app" + sep + "s*", "ignored", "/list"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.substr(0, r.out.find("Converted")),
            "app" + sep +
                "Shop1.TPS\r\nTableNumber\tTableName\r\n1\tCUSTOMER\r\n2\tORDERS\r\n"
                "app" +
                sep + "shop22.tps\r\nTableNumber\tTableName\r\n1\tCUSTOMER\r\n2\tORDERS\r\n");
  EXPECT_FALSE(PathExists(dir.File("ignored")));
  // /SCHEMA too: each file's definitions as a run on it alone prints them.
  r = Veltro({"app" + sep + "s*", "/schema"});
  EXPECT_EQ(r.exitCode, 0);
  std::string schemas;
  for (const char* name : {"Shop1.TPS", "shop22.tps"})
    schemas += "app" + sep + name + "\r\n" + Veltro({"app" + sep + name, "/schema"}).out;
  EXPECT_EQ(r.out.substr(0, r.out.find("Converted")), schemas);

  // One file shows its load's and its writing's progress with /PROGRESS (the first line at
  // once, the last at the end), and the same output bytes as without.
  r = Veltro({"app" + sep + "shop22.tps", "p.txt", "/progress"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.err.substr(0, 9), "Loading: ") << r.err;
  EXPECT_NE(r.err.find("\r\nWriting ORDERS: 4 of 4 rows, "), std::string::npos) << r.err;
  // Nothing on a pipe without it, nor with /QUIET.
  EXPECT_EQ(Veltro({"app" + sep + "shop22.tps", "q.txt", "/quiet", "/progress"}).err, "");
  EXPECT_EQ(Veltro({"app" + sep + "shop22.tps", "q.txt"}).err, "");
  EXPECT_EQ(ReadFileText(dir.File("p.ORDERS.txt")), ReadFileText(dir.File("q.ORDERS.txt")));

  // A target that is a file is refused; a pattern matching nothing ends with exit code 2.
  WriteFileText(dir.File("taken.txt"), "mine");
  r = Veltro({"app", "taken.txt"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("The target taken.txt is a file"), std::string::npos) << r.out;
  EXPECT_EQ(ReadFileText(dir.File("taken.txt")), "mine");
  r = Veltro({"app" + sep + "*.dat", "out2"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "TopSpeed TPS file not found.\r\n");
  EXPECT_FALSE(PathExists(dir.File("out2")));
}

TEST_F(FolderRun, EveryTableIntoOneDatabase) {
  // Three files give CUSTOMER and ORDERS; the samples' names are their own.
  fs::create_directories(dir.File("app/a"));
  fs::create_directories(dir.File("app/b"));
  if (const std::string samples = SamplesDir(); !samples.empty())
    for (const auto& e : fs::directory_iterator(samples))
      if (SameTextExtension(e.path()))
        fs::copy_file(e.path(), dir.File("app/" + e.path().filename().string()));
  WriteShopFile(dir.File("app/a/shop.tps"), 2);
  WriteShopFile(dir.File("app/b/shop.tps"), 3, "a");
  WriteShopFile(dir.File("app/shop.tps"), 20000);  // long enough for others to wait for
  WriteFileText(dir.File("app/junk.tps"), "not a TopSpeed file at all");

  const ProcessResult r =
      Veltro({"app", "db" + sep + "all.db", "/format=sqlite", "/recurse", "/owner=a", "/jobs=2"});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  if (std::getenv("VELTRO_UNDER_TEST") != nullptr) {  // VELTRO.EXE without SQLite here
    EXPECT_NE(r.out.find("SQLite is not available"), std::string::npos) << r.out;
    return;
  }
  EXPECT_NE(r.out.find("app" + sep + "junk.tps: File signature is not correct."), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(" s; 1 failed."), std::string::npos) << r.out;

  // Each file alone into a database of its own: its tables and rows, a name that
  // another file gives too with the file's path before it.
  std::map<std::string, std::map<std::string, std::string>> single;  // by prefix
  std::map<std::string, int> files;                                  // by lower-case name
  for (const auto& e : fs::recursive_directory_iterator(dir.File("app"))) {
    if (!SameTextExtension(e.path()) || e.path().filename() == "junk.tps") continue;
    const std::string relative = fs::relative(e.path(), dir.File("app")).string();
    std::string prefix = fs::path(relative).replace_extension().generic_string();
    for (char& c : prefix) c = c == '/' ? '_' : c;
    Veltro({"app" + sep + relative, prefix + ".db", "/format=sqlite", "/owner=a"});
    single[prefix] = TableRows(dir.File(prefix + ".db"));
    for (const auto& table : single[prefix]) ++files[Lower(table.first)];
  }
  std::map<std::string, std::string> expected;
  for (const auto& [prefix, tables] : single)
    for (const auto& [name, rows] : tables)
      expected[files[Lower(name)] > 1 ? prefix + "_" + name : name] = rows;
  EXPECT_EQ(expected["a_shop_CUSTOMER"], "2");
  EXPECT_EQ(expected["shop_ORDERS"], "20000");
  EXPECT_EQ(TableRows(dir.File("db/all.db")), expected);
}

}  // namespace
