// Runs the Unix-shell examples of the README through sh -c on the files the README
// describes, so that the README cannot drift from the program. The examples are those
// between the lines "<!-- examples: begin -->" and "<!-- examples: end -->":
//  - every ```sh block runs in a fresh folder holding the example files; the ```text
//    block after it shows what it writes: the file named by the first `code` of the
//    lines between the two, or standard output when those lines say "prints";
//  - every row of a table whose last column is "Rows" runs
//    `veltro people.tps out.txt <first column>`; the IDs of the rows written must be
//    the ones listed ("all", "none" or "1, 4");
//  - every `veltro ...` command elsewhere in the text must be one of the sh blocks;
//  - the table after "<!-- sample: people.tps -->" must hold the rows of people.tps.
// Each run must end with exit code 0 and nothing on standard error, unless the README
// says it gives a warning.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "TestSupport.h"
#include "tpswriter/TpsWriter.h"

namespace {

namespace fs = std::filesystem;

// cust.tps: CUSTOMER with a group; shop.tps: CUSTOMER and ORDERS; secret.tps: cust.tps
// encrypted with the owner password pa$$#1; people.tps: the filter examples' PEOPLE.
void WriteExampleFiles(const std::string& dir) {
  tpsw::Table c;
  c.number = 1;
  c.name = "CUSTOMER";
  c.fields = {
      tpsw::Field{tpsw::kLong, "CUS:ID", 0, 4}, tpsw::Field{tpsw::kString, "CUS:NAME", 4, 7},
      tpsw::Field{tpsw::kGroup, "CUS:ADDRESS", 11, 6},
      tpsw::Field{tpsw::kString, "CUS:CITY", 11, 6}, tpsw::Field{tpsw::kDate, "CUS:BORN", 17, 4}};
  const std::vector<std::vector<std::string>> customers = {{"1", "Ann", "", "Oslo", "1985-03-02"},
                                                           {"2", "Lee, Al", "", "Rome", ""}};
  tpsw::WriteFixture(dir + "/cust.tps", c, customers);
  tpsw::Options locked;
  locked.owner = "pa$$#1";
  tpsw::WriteFixture(dir + "/secret.tps", c, customers, locked);

  tpsw::Table o;
  o.number = 2;
  o.name = "ORDERS";
  o.fields = {tpsw::Field{tpsw::kShort, "ORD:NO", 0, 2},
              tpsw::Field{tpsw::kLong, "ORD:CUST", 2, 4}};
  tpsw::Writer shop(dir + "/shop.tps");
  shop.AddTable(c);
  shop.AddTable(o);
  tpsw::AddTextRows(shop, c, customers);
  tpsw::AddTextRows(shop, o, {{"1", "2"}, {"2", "1"}});
  shop.Finish();

  tpsw::Table p;
  p.number = 1;
  p.name = "PEOPLE";
  p.fields = {tpsw::Field{tpsw::kLong, "PEO:ID", 0, 4},
              tpsw::Field{tpsw::kString, "PEO:FIRST", 4, 5},
              tpsw::Field{tpsw::kString, "PEO:Last Name", 9, 8},
              tpsw::Field{tpsw::kString, "PEO:CITY", 17, 7},
              tpsw::Field{tpsw::kLong, "PEO:QTY", 24, 4},
              tpsw::Field{tpsw::kDecimal, "PEO:PRICE", 28, 5, 1, 2},
              tpsw::Field{tpsw::kString, "PEO:CODE", 33, 1},
              tpsw::Field{tpsw::kDate, "PEO:BORN", 34, 4},
              tpsw::Field{tpsw::kString, "PEO:STAMP", 38, 16}};
  p.memos = {tpsw::Memo{"PEO:NOTES"}};
  tpsw::WriteFixture(
      dir + "/people.tps", p,
      {{"1", "Ann", "Smith", "Oslo", "5", "12.50", "A", "1985-03-02", "17/05/2020 09:30",
        "first order"},
       {"2", "Bob", "SMITH", "Rome", "20", "45.00", "B", "2001-11-23", "02/01/2019 14:00", ""},
       {"3", "Cem", "Jones", "Boston", "35", "0.99", "C", "1992-07-14", "31/12/2021 23:59",
        "call first"},
       {"4", "Dag", "Berg", "Oslo", "0", "60.00", "C", "2003-01-05", "15/06/2018 08:00", ""},
       {"5", "Eva", "Smithson", "Rome", "12", "49.99", "B", "1979-09-30", "01/03/2022 10:15",
        "paid"},
       {"6", "Fay", "O'Neil", "Lima", "31", "5.00", "A", "2000-01-01", "20/02/2020 12:00", ""}});
}

std::string Trim(std::string s) {
  const std::size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// The lines of Text with CR LF and CR read as line ends, trailing blanks removed.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out.push_back(line.substr(0, line.find_last_not_of(' ') + 1));
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) out.push_back(line.substr(0, line.find_last_not_of(' ') + 1));
  return out;
}

// The texts between backticks of Line.
std::vector<std::string> CodeSpans(const std::string& line) {
  std::vector<std::string> out;
  for (std::size_t a = line.find('`'); a != std::string::npos; a = line.find('`', a)) {
    const std::size_t b = line.find('`', a + 1);
    if (b == std::string::npos) break;
    out.push_back(line.substr(a + 1, b - a - 1));
    a = b + 1;
  }
  return out;
}

// The cells of a table row "| a | b |", trimmed ("\|" is a "|" inside a cell).
std::vector<std::string> Cells(const std::string& row) {
  std::vector<std::string> out;
  std::string cell;
  for (std::size_t i = 1; i < row.size(); ++i) {
    if (row[i] == '\\' && i + 1 < row.size() && row[i + 1] == '|') {
      cell += '|';
      ++i;
    } else if (row[i] == '|') {
      out.push_back(Trim(cell));
      cell.clear();
    } else {
      cell += row[i];
    }
  }
  return out;
}

struct TShellExample {
  std::string script;  // the block's lines
  std::string writes;  // the file shown, or "" for standard output
  std::vector<std::string> shown;
};
struct TFilterExample {
  std::string argument;
  std::string rows;
  bool warns = false;
};
struct TReadme {
  std::vector<TShellExample> shell;
  std::vector<TFilterExample> filters;
  std::vector<std::string> commands;  // `veltro ...` in the text
  std::vector<std::string> sampleHeader;
  std::vector<std::vector<std::string>> sampleRows;
};

TReadme ReadReadme(const std::string& path) {
  std::istringstream in(ReadFileText(path));
  std::vector<std::string> lines;
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "<!-- examples: begin -->") inside = true;
    if (line == "<!-- examples: end -->") inside = false;
    if (inside) lines.push_back(line);
  }
  TReadme r;
  std::vector<std::string> header;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string t = Trim(lines[i]);
    if (t == "```sh") {
      TShellExample e;
      for (++i; i < lines.size() && Trim(lines[i]) != "```"; ++i) e.script += Trim(lines[i]) + "\n";
      // The output block after it, and the file that the lines between name.
      std::string between;
      for (++i; i < lines.size() && Trim(lines[i]).rfind("```", 0) != 0; ++i) between += lines[i];
      if (i < lines.size() && Trim(lines[i]) == "```text") {
        const std::size_t indent = lines[i].find('`');
        for (++i; i < lines.size() && Trim(lines[i]) != "```"; ++i)
          e.shown.push_back(lines[i].substr(std::min(indent, lines[i].size())));
        const std::vector<std::string> names = CodeSpans(between);
        if (between.find("prints") == std::string::npos && !names.empty()) e.writes = names[0];
      } else {
        --i;
        e.writes = "?";  // no output shown
      }
      r.shell.push_back(e);
      continue;
    }
    if (t.rfind("<!-- sample:", 0) == 0) {
      for (++i; i < lines.size() && lines[i].rfind("|", 0) != 0; ++i) {
      }
      r.sampleHeader = Cells(lines[i]);
      for (i += 2; i < lines.size() && lines[i].rfind("|", 0) == 0; ++i)
        r.sampleRows.push_back(Cells(lines[i]));
      continue;
    }
    if (t.rfind("|", 0) == 0) {
      const std::vector<std::string> cells = Cells(t);
      if (i + 1 < lines.size() && Trim(lines[i + 1]).rfind("|---", 0) == 0) header = cells;
      if (!header.empty() && header.back() == "Rows" && cells != header &&
          t.rfind("|---", 0) != 0) {
        const std::vector<std::string> spans = CodeSpans(cells[0]);
        if (!spans.empty())
          r.filters.push_back({spans[0], cells.back(),
                               cells[cells.size() - 2].find("warning") != std::string::npos});
      }
    } else {
      header.clear();
    }
    if (t.rfind("|", 0) == 0)
      for (const std::string& span : CodeSpans(t))
        if (span.rfind("veltro ", 0) == 0 || span.find(" veltro ") != std::string::npos)
          r.commands.push_back(span);
  }
  return r;
}

class ReadmeExamples : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("LC_ALL", "C", 1);
    readme = ReadReadme(std::string(VELTRO_SOURCE_DIR) + "/README.md");
    WriteExampleFiles(files.Path());
    // "veltro" on the search path is the program under test.
    fs::create_directory(files.File("bin"));
    WriteFileText(files.File("bin/veltro"), "#!/bin/sh\nexec '" + VeltroBinary() + "' \"$@\"\n");
    fs::permissions(files.File("bin/veltro"), fs::perms::owner_all);
  }
  // Runs Script with sh in a fresh folder holding the example files; Folder is set
  // to it.
  ProcessResult Shell(const std::string& script, std::string& folder) {
    folder = work.File(std::to_string(++runs));
    fs::create_directory(folder);
    for (const char* name : {"cust.tps", "shop.tps", "secret.tps", "people.tps"})
      fs::copy_file(files.File(name), folder + "/" + name);
    return RunProcess({"/bin/sh", "-c", "PATH='" + files.File("bin") + "':\"$PATH\"\n" + script},
                      folder);
  }
  TReadme readme;
  TempDir files, work;
  int runs = 0;
};

}  // namespace

TEST_F(ReadmeExamples, ShellBlocksWriteWhatTheReadmeShows) {
  ASSERT_GE(readme.shell.size(), 10u);
  for (const TShellExample& e : readme.shell) {
    SCOPED_TRACE(e.script);
    ASSERT_NE(e.writes, "?") << "no output shown after the example";
    std::string folder;
    const ProcessResult r = Shell(e.script, folder);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.err, "");
    const std::string written = e.writes.empty() ? r.out : ReadFileText(folder + "/" + e.writes);
    EXPECT_EQ(Lines(written), e.shown);
  }
  // Every command of the text is one of the blocks, so it is run and checked.
  for (const std::string& c : readme.commands) {
    bool found = false;
    for (const TShellExample& e : readme.shell)
      found = found || e.script.find(c + "\n") != std::string::npos;
    EXPECT_TRUE(found) << c << " is shown nowhere with what it writes";
  }
}

TEST_F(ReadmeExamples, FiltersWriteTheRowsListed) {
  ASSERT_GE(readme.filters.size(), 10u);
  std::string folder;
  const ProcessResult all = Shell("veltro people.tps all.txt /h", folder);
  ASSERT_EQ(all.exitCode, 0);
  // The sample table of the README is the file's content.
  std::vector<std::vector<std::string>> table;
  for (const std::string& line : Lines(ReadFileText(folder + "/all.PEOPLE.txt"))) {
    std::vector<std::string> cells;
    std::istringstream in(line);
    for (std::string cell; std::getline(in, cell, '\t');) cells.push_back(Trim(cell));
    if (!line.empty() && line.back() == '\t') cells.push_back("");
    table.push_back(cells);
  }
  ASSERT_FALSE(table.empty());
  EXPECT_EQ(readme.sampleHeader, table[0]);
  EXPECT_EQ(readme.sampleRows,
            std::vector<std::vector<std::string>>(table.begin() + 1, table.end()));

  for (const TFilterExample& f : readme.filters) {
    SCOPED_TRACE(f.argument);
    const ProcessResult r = Shell("veltro people.tps out.txt " + f.argument, folder);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    if (f.warns)
      EXPECT_EQ(r.err.rfind("Warning: ", 0), 0u) << r.err;
    else
      EXPECT_EQ(r.err, "");
    std::string ids;
    for (const std::string& line : Lines(ReadFileText(folder + "/out.PEOPLE.txt")))
      ids += (ids.empty() ? "" : ", ") + line.substr(0, line.find('\t'));
    if (ids.empty()) ids = "none";
    if (ids == "1, 2, 3, 4, 5, 6") ids = "all";
    EXPECT_EQ(ids, f.rows);
  }
}
