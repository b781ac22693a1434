// Salvage: a generated file (several tables, memos, BLOBs, split definitions, many
// pages and blocks) and the sample files, each damaged in one way by the test, run
// through the program. What the damage did not touch comes out exactly as from the
// intact file; every loss is named in a warning and ends the run with exit code 3;
// /STRICT ends it with 1 and writes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "../../tools/tpswriter/TpsWriter.h"
#include "TestSupport.h"
#include "tps/KvTPSBytes.h"
#include "tps/KvTPSContainer.h"
#include "tps/KvTPSRecords.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;
// Output file name -> its lines.
using Output = std::map<std::string, std::multiset<std::string>>;

struct TRun {
  ProcessResult process;
  Output files;
  std::vector<std::string> warnings;  // damage warnings (impossible dates aside)
};

TRun Convert(const TempDir& dir, const Bytes& bytes, std::vector<std::string> switches = {}) {
  const fs::path out = fs::path(dir.Path()) / "out";
  fs::remove_all(out);
  fs::create_directories(out);
  WriteFileBytes(dir.File("in.tps"), bytes);
  std::vector<std::string> args = {VeltroBinary(), dir.File("in.tps"), (out / "r.txt").string()};
  args.insert(args.end(), switches.begin(), switches.end());
  TRun r;
  r.process = RunProcess(args, dir.Path(), 30);
  for (const auto& e : fs::directory_iterator(out)) {
    const std::string text = ReadFileText(e.path().string());
    auto& lines = r.files[e.path().filename().string()];
    for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
      lines.insert(text.substr(at, end - at));
  }
  for (std::size_t at = 0, end; (end = r.process.err.find("\r\n", at)) != std::string::npos;
       at = end + 2) {
    const std::string line = r.process.err.substr(at, end - at);
    if (line.rfind("Warning: ", 0) == 0 && line.find("impossible date") == std::string::npos)
      r.warnings.push_back(line);
  }
  return r;
}

// A page of the intact file: where it lies and what it holds.
struct Page {
  std::uint64_t At = 0, End = 0;
  std::size_t Entry = 0;
  bool Compressed = false;
  std::uint64_t Data = 0, Memos = 0;
  std::set<std::int32_t> Defines;  // tables whose name or definition lies here
};
struct FileMap {
  std::vector<Page> Pages;
  std::map<std::int32_t, std::uint64_t> DataOf;  // table -> its data records
};

FileMap MapOf(const Bytes& file) {
  FileMap m;
  for (std::size_t i = 0; i < kTpsBlockCount; ++i) {
    const TTPSBlockEntry e = TpsBlockEntry(file.data(), i);
    for (std::uint64_t pos = e.Start; pos < e.End && pos + kTpsPageHeaderSize <= file.size();) {
      const TTPSPageHeader h = TpsPageHeader(file.data() + pos);
      if (!TpsPageInPlace(h, pos)) break;
      Page p;
      p.At = pos;
      p.End = pos + h.PageSize;
      p.Entry = i;
      p.Compressed = !h.Plain();
      if (h.Level == 0 && h.RecordCount > 0) {
        const std::span<const std::uint8_t> stored(file.data() + pos + kTpsPageHeaderSize,
                                                   h.PageSize - kTpsPageHeaderSize);
        Bytes body(stored.begin(), stored.end());
        if (p.Compressed) {
          body.clear();
          TpsExpandPage(stored, body);
        }
        TTPSRecords records, memos;
        TTPSByteStore store;
        TpsCutRecords(body, h.RecordCount, records, memos, store);
        p.Memos = memos.Count();
        for (const TTPSRecord& r : records.Items()) {
          if (r.Kind == tpsKindData) ++p.Data, ++m.DataOf[r.TableNumber];
          if (r.Kind == tpsKindDefinition) p.Defines.insert(r.TableNumber);
          if (r.Kind == tpsKindTableName && r.Body)
            p.Defines.insert(static_cast<const TTPSRecordTableNameBody&>(*r.Body).TableNumber);
        }
      }
      m.Pages.push_back(std::move(p));
      pos = TpsNextPageBoundary(pos + h.PageSize);
    }
  }
  return m;
}

// What damage to the pages that pass test may cost at most: rows lost (the records
// there, every row of a table whose name or definition is there) and rows altered
// (those of the memo pieces there, those whose table is named there, and with
// mayAlter twice the records there: a changed record number also hides another row).
struct Cost {
  std::uint64_t lose = 0, alter = 0;
};
template <typename Test>
Cost CostOf(const FileMap& m, Test test, bool mayAlter) {
  Cost c;
  std::set<std::int32_t> tables;
  for (const Page& p : m.Pages) {
    if (!test(p)) continue;
    c.lose += (mayAlter ? 2 * p.Data : p.Data) + p.Memos;
    c.alter += p.Memos + (mayAlter ? 2 * p.Data : 0);
    tables.insert(p.Defines.begin(), p.Defines.end());
  }
  for (std::int32_t t : tables) {
    auto it = m.DataOf.find(t);
    const std::uint64_t n = it == m.DataOf.end() ? 0 : it->second;
    c.lose += n;
    c.alter += n;
  }
  return c;
}
Cost Within(const FileMap& m, std::uint64_t from, std::uint64_t to, bool mayAlter = false) {
  return CostOf(
      m, [&](const Page& p) { return p.At < to && from < p.End; }, mayAlter);
}

// A data page in the middle of the file (compressed when asked and one is there).
const Page& MiddlePage(const FileMap& m, bool compressed) {
  std::vector<const Page*> data;
  for (const Page& p : m.Pages)
    if (p.Data > 1 && (!compressed || p.Compressed)) data.push_back(&p);
  if (data.empty())
    for (const Page& p : m.Pages)
      if (p.Data > 1) data.push_back(&p);
  return *data[data.size() / 2];
}

void PutLe32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + std::size_t(k)] = std::uint8_t(v >> (8 * k));
}

// One way of damaging a file: the damaged bytes, what it may cost at most, and
// whether a loss is certain.
struct Damage {
  Damage(std::string name_, Bytes bytes_) : name(std::move(name_)), bytes(std::move(bytes_)) {}
  std::string name;
  Bytes bytes;
  Cost cost;
  bool certainLoss = true;
};

std::vector<Damage> DamagesOf(const Bytes& intact) {
  const FileMap m = MapOf(intact);
  const std::uint64_t size = intact.size();
  std::vector<Damage> out;
  const Page& page = MiddlePage(m, false);
  const Page& packed = MiddlePage(m, true);
  {
    Damage d{"page overwritten", intact};
    std::fill(d.bytes.begin() + long(page.At), d.bytes.begin() + long(page.End), 0x00);
    d.cost = Within(m, page.At, page.End);
    out.push_back(d);
  }
  {
    Damage d{"4 KiB zeroed", intact};
    const std::uint64_t end = std::min<std::uint64_t>(size, page.At + 4096);
    std::fill(d.bytes.begin() + long(page.At), d.bytes.begin() + long(end), 0x00);
    d.cost = Within(m, page.At, end);
    out.push_back(d);
  }
  for (std::size_t field : {4u, 10u}) {  // the page size, the record count
    Damage d{"page header changed at " + std::to_string(field), intact};
    d.bytes[page.At + field] ^= 0x21;
    d.cost = Within(m, page.At, page.At + 1);
    out.push_back(d);
  }
  for (int percent : {50, 90, 99}) {
    const std::uint64_t cut = size * std::uint64_t(percent) / 100;
    Damage d{"cut at " + std::to_string(percent) + " %",
             Bytes(intact.begin(), intact.begin() + long(cut))};
    d.cost = Within(m, cut, size + 1);
    out.push_back(d);
  }
  {
    // The entry of the middle page: into the middle of its first page, then past the end.
    Damage mid{"block entry into a page", intact};
    const std::size_t entry = page.Entry;
    const std::uint32_t start = TpsLe32(intact.data() + 32 + 4 * entry);
    PutLe32(mid.bytes, 32 + 4 * entry, start + 1);
    Damage past{"block entry past the end", intact};
    PutLe32(past.bytes, 272 + 4 * entry, std::uint32_t(size / 256 + 40));
    for (Damage* d : {&mid, &past}) {
      d->cost = CostOf(
          m, [&](const Page& p) { return p.Entry == entry; }, false);
      out.push_back(*d);
    }
  }
  // A byte of a run-length encoded body: a count (the page no longer expands to its
  // size) or a literal (its records may come out altered).
  for (std::size_t at : {std::size_t(0), std::size_t(packed.End - packed.At) / 2}) {
    Damage d{"run-length byte " + std::to_string(at) + " changed", intact};
    d.bytes[packed.At + kTpsPageHeaderSize + at] ^= 0x04;
    d.cost = Within(m, packed.At, packed.At + 1, true);
    d.certainLoss = false;
    out.push_back(d);
  }
  tpsw::Rng rng(0x5a1 + size);
  for (int k = 0; k < 3; ++k) {
    Damage d{"byte flips " + std::to_string(k), intact};
    d.certainLoss = false;
    std::set<std::uint64_t> at;
    for (std::uint64_t n = 1 + rng.Below(6); n > 0; --n) at.insert(512 + rng.Below(size - 512));
    for (std::uint64_t a : at) d.bytes[a] ^= std::uint8_t(1u << rng.Below(8));
    d.cost = CostOf(
        m,
        [&](const Page& p) {
          auto it = at.lower_bound(p.At);
          return it != at.end() && *it < p.End;
        },
        true);
    out.push_back(d);
  }
  return out;
}

// The lines of a that b lacks (as multisets), over every file.
std::uint64_t Missing(const Output& a, const Output& b) {
  std::uint64_t n = 0;
  for (const auto& [name, lines] : a) {
    auto other = b.find(name);
    for (auto it = lines.begin(); it != lines.end(); it = lines.upper_bound(*it)) {
      const std::size_t have = other == b.end() ? 0 : other->second.count(*it);
      const std::size_t want = lines.count(*it);
      if (want > have) n += want - have;
    }
  }
  return n;
}

void CheckSalvage(const TempDir& dir, const Bytes& intactBytes, std::vector<Damage> damages,
                  const std::vector<std::string>& switches = {}) {
  const TRun intact = Convert(dir, intactBytes, switches);
  ASSERT_EQ(intact.process.exitCode, 0) << intact.process.out << intact.process.err;
  ASSERT_TRUE(intact.warnings.empty()) << intact.process.err;
  ASSERT_FALSE(intact.files.empty());
  int lossy = 0;
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.name);
    const TRun r = Convert(dir, d.bytes, switches);
    ASSERT_EQ(r.process.signal, 0) << r.process.err;
    const std::uint64_t missing = Missing(intact.files, r.files);
    const std::uint64_t altered = Missing(r.files, intact.files);
    // Rows on pages the damage did not touch come out, and exactly.
    EXPECT_LE(missing, d.cost.lose) << r.process.err;
    EXPECT_LE(altered, d.cost.alter) << r.process.err;
    if (r.process.exitCode == 0) {
      // Nothing found: no warning, and only bytes changed inside pages that still
      // decode can have altered rows.
      EXPECT_TRUE(r.warnings.empty()) << r.process.err;
      EXPECT_FALSE(d.certainLoss) << "a loss reported as success";
      continue;
    }
    EXPECT_EQ(r.process.exitCode, 3) << r.process.out << r.process.err;
    EXPECT_FALSE(r.warnings.empty()) << "a loss without a warning";
    if (d.name.rfind("cut", 0) == 0) {
      EXPECT_NE(r.process.err.find("it has been cut short."), std::string::npos) << r.process.err;
    }
    if (missing > 0 || ++lossy % 3 == 1) {
      // All or nothing: the first damage ends the run and nothing is written.
      std::vector<std::string> strict = switches;
      strict.push_back("/STRICT");
      const TRun s = Convert(dir, d.bytes, strict);
      EXPECT_EQ(s.process.exitCode, 1) << s.process.out << s.process.err;
      EXPECT_NE(s.process.out.find("The file is damaged: "), std::string::npos) << s.process.out;
      EXPECT_TRUE(s.files.empty());
    }
  }
}

// Three tables: customers with a memo, photographs with a BLOB each, orders; the
// definitions in pieces, pages in blocks of three.
Bytes GeneratedFile(bool definitionsApart = false) {
  tpsw::Table customers{
      1,
      "CUSTOMER",
      {tpsw::Field(tpsw::kLong, "CUS:ID", 0, 4), tpsw::Field(tpsw::kString, "CUS:NAME", 4, 20),
       tpsw::Field(tpsw::kDate, "CUS:BORN", 24, 4)},
      {tpsw::Memo("CUS:NOTES")}};
  tpsw::Table photos{
      2,
      "PHOTOS",
      {tpsw::Field(tpsw::kLong, "PH:ID", 0, 4), tpsw::Field(tpsw::kString, "PH:TITLE", 4, 12)},
      {tpsw::Memo("PH:PICTURE", true)}};
  tpsw::Table orders{3,
                     "ORDERS",
                     {tpsw::Field(tpsw::kLong, "ORD:ID", 0, 4),
                      tpsw::Field(tpsw::kDecimal, "ORD:AMOUNT", 4, 5, 1, 2),
                      tpsw::Field(tpsw::kShort, "ORD:QTY", 9, 2)}};
  tpsw::Options o;
  o.definitionPieceSize = 24;
  o.pagesPerBlock = 3;
  o.memoPieceSize = 100;
  Bytes file;
  tpsw::Writer w(&file, o);
  for (const tpsw::Table* t : {&customers, &photos, &orders}) w.AddTable(*t);
  if (definitionsApart) w.FlushPage();
  tpsw::Rng rng(21);
  for (int i = 1; i <= 500; ++i) {
    tpsw::Payload c(customers.RecordLength());
    c.PutLong(0, i).PutString(4, 20, "Customer " + std::to_string(i * 7919 % 1000));
    c.PutDate(24, 1940 + i % 60, 1 + i % 12, 1 + i % 28);
    w.AddRow(1, i, c,
             {{0, i % 3 ? "notes of " + std::to_string(i) + std::string(i % 150, '.') : ""}});
    if (i % 6 == 0) {
      std::string picture(300 + rng.Below(400), '\0');
      // Binary bytes, but no line ends: a row stays one line of the output.
      for (char& ch : picture) ch = char(rng.Below(7) == 0 ? 0x80 | rng.Next() : 0x42);
      tpsw::Payload p(photos.RecordLength());
      p.PutLong(0, i / 6).PutString(4, 12, "photo " + std::to_string(i / 6));
      w.AddRow(2, i / 6, p, {{0, picture}});
    }
    tpsw::Payload d(orders.RecordLength());
    d.PutLong(0, i).PutDecimal(4, 5, 2, std::to_string(i * 37 % 10000) + ".25");
    d.PutShort(9, std::int16_t(i % 50));
    w.AddRow(3, i, d);
  }
  w.Finish();
  return file;
}

}  // namespace

TEST(Salvage, GeneratedFileKeepsEveryIntactPage) {
  TempDir dir;
  const Bytes intact = GeneratedFile();
  std::vector<Damage> damages = DamagesOf(intact);
  // One byte of a definition: the field count of the first table.
  {
    Damage d{"definition changed", intact};
    const std::vector<std::uint8_t> name = {'C', 'U', 'S', ':', 'I', 'D'};
    auto at = std::search(d.bytes.begin(), d.bytes.end(), name.begin(), name.end());
    ASSERT_NE(at, d.bytes.end());
    *(at - 1) ^= 0x10;  // the offset of the first field: far beyond the record
    d.cost.lose = 501;  // the table's rows and its header line
    damages.push_back(d);
  }
  CheckSalvage(dir, intact, damages, {"/h"});
}

TEST(Salvage, SampleFilesKeepEveryIntactPage) {
  if (SamplesDir().empty()) GTEST_SKIP() << "no sample files";
  TempDir dir;
  // The memo and BLOB of Products hold line ends: they are left out, so that a row
  // stays one line of the output.
  const std::vector<std::pair<std::string, std::vector<std::string>>> samples = {
      {"Zipcodes.tps", {}},
      {"Products.tps",
       {"/fields=PRODUCTNUMBER;PRODUCTSKU;DESCRIPTION;PRICE;QUANTITYINSTOCK;REORDERQUANTITY;"
        "COST;PICTUREFILE;WEBLINK"}},
      {"INVHIST.TPS", {}}};
  for (const auto& [name, switches] : samples) {
    SCOPED_TRACE(name);
    const Bytes intact = ReadFileBytes(SamplesDir() + "/" + name);
    CheckSalvage(dir, intact, DamagesOf(intact), switches);
  }
}

TEST(Salvage, DefinitionsFromAnotherFile) {
  TempDir dir;
  const Bytes intact = GeneratedFile(true);
  WriteFileBytes(dir.File("intact.tps"), intact);
  const TRun expected = Convert(dir, intact, {"/h"});
  ASSERT_EQ(expected.process.exitCode, 0);
  // The first page holds the names and definitions of the three tables alone.
  const FileMap m = MapOf(intact);
  ASSERT_FALSE(m.Pages.empty());
  ASSERT_EQ(m.Pages[0].Defines, (std::set<std::int32_t>{1, 2, 3}));
  ASSERT_EQ(m.Pages[0].Data, 0u);
  Bytes damaged = intact;
  std::fill(damaged.begin() + long(m.Pages[0].At), damaged.begin() + long(m.Pages[0].End), 0xEE);

  const TRun without = Convert(dir, damaged, {"/h"});
  EXPECT_EQ(without.process.exitCode, 3);
  EXPECT_TRUE(without.files.empty());
  EXPECT_EQ(without.warnings.size(), 4u) << without.process.err;  // the page, three tables

  const TRun with = Convert(dir, damaged, {"/h", "/DEFINITIONS=" + dir.File("intact.tps")});
  EXPECT_EQ(with.process.exitCode, 3) << with.process.err;  // the page is still lost
  EXPECT_EQ(with.files, expected.files);
  for (const char* table : {"CUSTOMER", "PHOTOS", "ORDERS"})
    EXPECT_NE(with.process.err.find("the definition of table " + std::string(table) +
                                    " was taken from intact.tps."),
              std::string::npos)
        << with.process.err;
}
