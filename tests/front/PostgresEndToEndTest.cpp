// SQL scripts loaded into a real PostgreSQL server (tools/test-postgres.sh starts a
// throwaway one and names it in VELTRO_PGHOST, VELTRO_PGPORT and VELTRO_PSQL; without
// them these tests skip). Every value read back is compared with the text export of the
// same file after the script's type mapping.
#include <gtest/gtest.h>
#include <iconv.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "TestSupport.h"

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

// Splits Text at every Sep.
std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> out(1);
  for (const char c : text) {
    if (c == sep)
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

// The fields of COPY ... TO STDOUT lines (text format); "\N" stays as the null marker.
std::vector<std::vector<std::string>> ParseCopyText(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : Split(text, '\n')) {
    if (line.empty()) continue;
    std::vector<std::string> row;
    for (const std::string& field : Split(line, '\t')) {
      if (field == "\\N") {
        row.push_back(field);
        continue;
      }
      std::string v;
      for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
          v += field[i];
          continue;
        }
        const char e = field[++i];
        v += e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : e;
      }
      row.push_back(v);
    }
    rows.push_back(row);
  }
  return rows;
}

// The lines of a text export written with a tab delimiter and the qualifier '"' (every
// non-empty value quoted, so line ends inside memos are told from row ends).
std::vector<std::vector<std::string>> ParseQualifiedText(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      for (++i; i < text.size(); ++i) {
        if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"') {
          row.back() += '"';
          ++i;
        } else if (text[i] == '"') {
          break;
        } else {
          row.back() += text[i];
        }
      }
    } else if (c == '\t') {
      row.emplace_back();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      rows.push_back(row);
      row.assign(1, "");
      ++i;
    }
  }
  return rows;
}

std::string Cp1252ToUtf8(const std::string& bytes) {
  iconv_t cd = iconv_open("UTF-8", "WINDOWS-1252");
  std::string out(bytes.size() * 3 + 4, '\0');
  char* in = const_cast<char*>(bytes.data());
  char* to = out.data();
  std::size_t inLeft = bytes.size(), outLeft = out.size();
  iconv(cd, &in, &inLeft, &to, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

std::string TrimEnd(std::string s, bool blanks) {
  while (!s.empty() && (s.back() == '\0' || (blanks && s.back() == ' '))) s.pop_back();
  return s;
}

// An element as PostgreSQL's array output writes it.
std::string PgArrayElement(const std::string& e) {
  bool quote = e.empty() || e == "NULL";
  for (const char c : e)
    if (std::string_view("{}\",\\ \t\n\r").find(c) != std::string_view::npos) quote = true;
  if (!quote) return e;
  std::string out = "\"";
  for (const char c : e) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// The value PostgreSQL gives back for a value of the text export, by the field's declared
// type (as /SCHEMA names it) and the column's SQL type; "\N" for null.
std::string ExpectedValue(const std::string& declared, const std::string& sqlType,
                          const std::string& text) {
  if (declared == "MEMO") return text.empty() ? "\\N" : Cp1252ToUtf8(TrimEnd(text, false));
  if (declared == "BLOB") {
    if (text.empty()) return "\\N";
    static const char kHex[] = "0123456789abcdef";
    std::string hex = "\\x";
    for (const char b : text) hex += {kHex[std::uint8_t(b) >> 4], kHex[std::uint8_t(b) & 15]};
    return hex;
  }
  if (declared == "STRING") return Cp1252ToUtf8(TrimEnd(text, true));
  if (text.empty()) return "\\N";
  if (sqlType.rfind("numeric", 0) == 0) {
    // numeric(p,d) shows d decimals.
    const int decimals = std::atoi(sqlType.substr(sqlType.find(',') + 1).c_str());
    std::string v = text;
    std::size_t point = v.find('.');
    if (point == std::string::npos && decimals > 0) v += '.', point = v.size() - 1;
    if (decimals > 0) v.append(std::size_t(decimals) - (v.size() - point - 1), '0');
    return v;
  }
  return text;
}

class PostgresLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = Env("VELTRO_PGHOST");
    psql_ = Env("VELTRO_PSQL");
    if (host_.empty() || psql_.empty())
      GTEST_SKIP() << "no PostgreSQL server (bash tools/test-postgres.sh starts one)";
    setenv("LC_ALL", "C", 1);
    db_ = "veltro_" + std::to_string(getpid()) + "_" + std::to_string(++count_);
    ASSERT_EQ(Psql("postgres", {"-c", "CREATE DATABASE " + db_}).exitCode, 0);
  }
  void TearDown() override {
    if (!db_.empty()) Psql("postgres", {"-c", "DROP DATABASE IF EXISTS " + db_});
  }
  ProcessResult Psql(const std::string& db, std::vector<std::string> args) {
    std::vector<std::string> all{psql_,      "-h", host_, "-p", Env("VELTRO_PGPORT"), "-U",
                                 "postgres", "-X", "-q",  "-v", "ON_ERROR_STOP=1",    "-d",
                                 db};
    all.insert(all.end(), args.begin(), args.end());
    return RunProcess(all, dir_.Path());
  }
  // Rows of a query as psql -A -t prints them, one string per line.
  std::vector<std::string> Query(const std::string& sql) {
    const ProcessResult r = Psql(db_, {"-A", "-t", "-c", sql});
    EXPECT_EQ(r.exitCode, 0) << sql << "\n" << r.err;
    std::vector<std::string> lines = Split(r.out, '\n');
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
  }
  ProcessResult Veltro(std::vector<std::string> args) {
    args.insert(args.begin(), VeltroBinary());
    return RunProcess(args, dir_.Path());
  }
  // Loads the script; a failure shows psql's message.
  void Load(const std::string& script) {
    const ProcessResult r = Psql(db_, {"-f", dir_.File(script)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
  }
  // Compares every row and value of TABLE with the text export of SOURCE.
  void ExpectTableMatchesText(const std::string& table, const std::vector<std::string>& source);

  TempDir dir_;
  std::string host_, psql_, db_;
  static inline int count_ = 0;
};

void PostgresLoad::ExpectTableMatchesText(const std::string& table,
                                          const std::vector<std::string>& source) {
  // The declared type of each field, from the /SCHEMA listing.
  std::vector<std::string> args = source;
  args.insert(args.begin() + 1, "/schema");
  std::map<std::string, std::string> declared;
  for (const std::string& line : Split(Veltro(args).out, '\n')) {
    std::istringstream words(line);
    std::string position, name, type;
    if (words >> position >> name >> type && std::isdigit(std::uint8_t(position[0])))
      declared[name] = type;
  }
  args = source;
  args.insert(args.begin() + 1, "text.txt");
  args.insert(args.end(), {"/h", "/qualifier=\\34"});
  ASSERT_EQ(Veltro(args).exitCode, 0);
  const auto text = ParseQualifiedText(ReadFileText(dir_.File("text.txt")));
  ASSERT_FALSE(text.empty());
  const std::vector<std::string>& header = text[0];

  const std::vector<std::string> columns = Query(
      "SELECT column_name || '|' || format_type(atttypid, atttypmod) FROM "
      "information_schema.columns c JOIN pg_attribute a ON a.attrelid = '\"" +
      table + "\"'::regclass AND a.attname = c.column_name WHERE table_name = '" + table +
      "' ORDER BY ordinal_position");
  ASSERT_FALSE(columns.empty()) << table;
  const ProcessResult copy =
      Psql(db_, {"-c", "COPY (SELECT * FROM \"" + table + "\" ORDER BY ctid) TO STDOUT"});
  ASSERT_EQ(copy.exitCode, 0) << copy.err;
  const auto rows = ParseCopyText(copy.out);
  ASSERT_EQ(rows.size() + 1, text.size()) << table << ": the row count";

  int mismatches = 0;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const std::size_t bar = columns[c].find('|');
    const std::string name = columns[c].substr(0, bar), sqlType = columns[c].substr(bar + 1);
    const std::size_t at = std::find(header.begin(), header.end(), name) - header.begin();
    ASSERT_LT(at, header.size()) << name << " is no column of the text export";
    const bool array = sqlType.size() > 2 && sqlType.substr(sqlType.size() - 2) == "[]";
    for (std::size_t r = 0; r < rows.size() && mismatches < 10; ++r) {
      const std::string& value = text[r + 1][at];
      std::string expected;
      if (array) {
        // "(a,b,c)" in the text export, "{a,b,c}" in PostgreSQL.
        const std::string inner = value.substr(1, value.size() - 2);
        expected = "{";
        for (const std::string& e : Split(inner, ',')) {
          if (expected.size() > 1) expected += ',';
          const std::string v = ExpectedValue(declared[name], sqlType, e);
          expected += v == "\\N" ? "NULL" : PgArrayElement(v);
        }
        expected += "}";
      } else {
        expected = ExpectedValue(declared[name], sqlType, value);
      }
      const std::string& actual = rows[r][c];
      // An empty text is written as null only where the row has no memo at all.
      if (actual != expected && !(expected.empty() && actual == "\\N")) {
        ADD_FAILURE() << table << " row " << r + 1 << " column " << name << ": expected ["
                      << expected << "], loaded [" << actual << "]";
        ++mismatches;
      }
    }
  }
}

struct TLoadCase {
  const char* file;
  std::vector<std::string> switches;
  const char* table;
  // Each index as pg_indexes shows it: name and column list.
  std::vector<std::string> indexes;
};

const TLoadCase kLoadCases[] = {
    {"table.tps", {}, "table", {"table_KEYNEW (\"NEWNR\")", "table_KEYOUD (\"OUDNR\")"}},
    {"table-with-time.TPS", {}, "table-with-time", {}},
    {"table-with-memos.tps", {}, "table-with-memos", {}},
    {"array-of-groups.TPS", {}, "array-of-groups", {}},
    {"not-encrypted.tps", {}, "not-encrypted", {}},
    {"encrypted-a.tps", {"/owner=a"}, "encrypted-a", {}},
    {"Vendors.tps",
     {},
     "Vendors",
     {"Vendors_KEYVENDORNAME (\"VENDORNAME\")", "Vendors_KEYVENDORNUMBER (\"VENDORNUMBER\")"}},
    {"INVHIST.TPS",
     {},
     "INVHIST",
     {"INVHIST_KEYPRODNUMBERDATE (\"PRODUCTNUMBER\", \"DATE\")",
      "INVHIST_KEYPRODUCTNUMBERVENDORDATE (\"PRODUCTNUMBER\", \"VENDORNUMBER\", \"DATE\")",
      "INVHIST_KEYVENDORNUMBERDATE (\"VENDORNUMBER\", \"DATE\")"}},
    {"Products.tps",
     {},
     "Products",
     {"Products_KEYDESCRIPTION (\"DESCRIPTION\")", "Products_KEYPRODUCTNUMBER (\"PRODUCTNUMBER\")",
      "Products_KEYPRODUCTSKU (\"PRODUCTSKU\")"}},
    {"Zipcodes.tps",
     {},
     "Zipcodes",
     {"Zipcodes_KEYSTATE (\"STATE\", \"CITY\")", "Zipcodes_KEYZIPCITY (\"CITY\")",
      "Zipcodes_KEYZIPCODE (\"ZIP\")"}},
};

}  // namespace

TEST_F(PostgresLoad, EverySampleLoadsTwiceWithEveryValueAndIndex) {
  const std::string samples = SamplesDir();
  if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent";
  for (const TLoadCase& c : kLoadCases) {
    SCOPED_TRACE(c.file);
    std::vector<std::string> source{samples + "/" + c.file};
    source.insert(source.end(), c.switches.begin(), c.switches.end());
    std::vector<std::string> args = source;
    args.insert(args.begin() + 1, "load.sql");
    args.push_back("/format=sql");
    const ProcessResult r = Veltro(args);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    // Two loads in a row: the script replaces its tables.
    Load("load.sql");
    Load("load.sql");
    ExpectTableMatchesText(c.table, source);
    std::vector<std::string> indexes = Query(
        "SELECT indexname || ' ' || substring(indexdef from '\\(.*\\)$') FROM pg_indexes "
        "WHERE tablename = '" +
        std::string(c.table) + "' ORDER BY indexname");
    EXPECT_EQ(indexes, c.indexes);
  }
  // One table each, nothing left over from the first loads.
  EXPECT_EQ(Query("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'"),
            std::vector<std::string>{std::to_string(std::size(kLoadCases))});
}
