// Resource limits: small files that claim huge expansions, record counts, field
// counts, memo chains or record numbers load within memory that their size
// justifies (at most 64 bytes per byte of the file plus 32 MiB for the records), or
// are refused with a message.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "../../fuzz/TpsFeatureFiles.h"
#include "cells/KvExceptions.h"
#include "tps/KvTPSContainer.h"
#include "tps/TpsTestUtil.h"
#include "tpswriter/TpsWriter.h"

using tpstest::Load;
using tpstest::Sheet;
using tpstest::Text;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kFixedAllowance = std::size_t(32) << 20;
std::size_t Allowed(const Bytes& file) { return kFixedAllowance + 64 * file.size(); }

std::string LoadError(const Bytes& file) {
  try {
    Load(file);
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

// Memory the loaded sheets hold.
std::size_t GridMemory(TClarionTPS& r) {
  std::size_t n = 0;
  for (std::int32_t s = 0; s < r.Sheets().Count(); ++s) n += r.Sheets()[s].Cells.MemoryUsed();
  return n;
}

tpsw::Table NotesTable() {
  tpsw::Table t;
  t.number = 1;
  t.name = "NOTES";
  t.fields = {tpsw::Field(tpsw::kLong, "N:ID", 0, 4)};
  t.memos = {tpsw::Memo("N:TEXT")};
  return t;
}

}  // namespace

TEST(ResourceLimits, ExpansionOfAPageIsBounded) {
  // 1,000 stored bytes that ask for about 8 MiB: the expansion stops at 4 MiB.
  const tpsfeatures::RawPage bomb = tpsfeatures::ExpansionBombPage();
  Bytes out;
  TpsExpandPage(bomb.stored, out);
  EXPECT_GE(out.size(), std::size_t(1) << 20);
  EXPECT_LE(out.size(), (std::size_t(1) << 22) + 65536);  // the last run may pass it

  // Eight such pages (a file of 8.5 KiB) load: none expands to the size its header
  // gives, so each is passed over and counted; the expanded bytes are not kept.
  const Bytes file = tpsfeatures::RawFile(std::vector<tpsfeatures::RawPage>(8, bomb));
  auto r = std::make_unique<TClarionTPS>();
  r->ResetGrid();
  r->KeepOpen = true;
  TMemoryStream s{Bytes(file)};
  r->LoadFromStream(s);
  EXPECT_EQ(r->Records().Count(), 0u);
  EXPECT_EQ(r->Damage().PagesLost(), 8u);
  EXPECT_LE(GridMemory(*r), Allowed(file));
}

TEST(ResourceLimits, RecordCountsBeyondTheFileSizeAreRefused) {
  const tpsfeatures::RawPage bomb = tpsfeatures::RecordCountBombPage();
  // One page of 65,455 shared records (a 64 KiB file) is still within the fixed
  // allowance: all of them are read.
  {
    const Bytes file = tpsfeatures::RawFile({bomb});
    auto r = std::make_unique<TClarionTPS>();
    r->ResetGrid();
    r->KeepOpen = true;
    TMemoryStream s{Bytes(file)};
    r->LoadFromStream(s);
    EXPECT_EQ(r->Records().Count(), 65455u);
  }
  // Eight of them (512 KiB asking for well over 100 MiB of records) are refused.
  const Bytes file = tpsfeatures::RawFile(std::vector<tpsfeatures::RawPage>(8, bomb));
  EXPECT_EQ(LoadError(file),
            "The file is damaged: its pages hold far more records than its size allows");
  // A real file of many records is far from the limit.
  std::vector<std::vector<std::string>> rows;
  for (int i = 1; i <= 3000; ++i) rows.push_back({std::to_string(i), ""});
  auto r = Load(tpsw::Fixture(NotesTable(), rows));
  EXPECT_EQ(Sheet(*r, 0).Cells.RowCount, 3000);
}

TEST(ResourceLimits, DefinitionClaimingEveryFieldHoldsOnlyItsDescriptors) {
  tpsw::Table t = NotesTable();
  t.fields.push_back(tpsw::Field(tpsw::kString, "N:NAME", 4, 8));
  t.memos.clear();  // (a memo would be added to the claimed count and wrap it to 0)
  tpsw::Options o;
  o.compress = false;
  o.sharePrefixes = false;
  Bytes file = tpsw::Fixture(t, {{"1", "first"}, {"2", "second"}}, o);
  // The field count word of the definition says 65,535.
  const Bytes content = tpsw::DefinitionContent(t);
  auto at = std::search(file.begin(), file.end(), content.begin(), content.begin() + 10);
  ASSERT_NE(at, file.end());
  const std::size_t count = std::size_t(at - file.begin()) + 4;
  ASSERT_EQ(file[count] | file[count + 1] << 8, 2);
  file[count] = file[count + 1] = 0xFF;

  // The entries end long before the count: a damaged definition, its rows not written.
  auto r = Load(file);
  EXPECT_EQ(r->Sheets().Count(), 0);
  EXPECT_TRUE(r->Damage().Lossy());
  EXPECT_LE(GridMemory(*r), std::size_t(4) << 20);
}

TEST(ResourceLimits, MemoOfThousandsOfPieces) {
  // One memo of 20,000 bytes in 5,000 pieces of 4 bytes, stored last piece first.
  std::string memo;
  for (int i = 0; i < 5000; ++i) memo += char('a' + i % 26) + std::to_string(i % 100 + 100);
  memo.resize(20000, '.');
  tpsw::Options o;
  o.memoPieceSize = 4;
  o.memoPiecesReversed = true;
  const Bytes file = tpsw::Fixture(NotesTable(), {{"1", memo}, {"2", "short"}}, o);
  auto r = Load(file);
  auto& table = Sheet(*r, 0);
  EXPECT_EQ(Text(table, 1, 0), memo);
  EXPECT_EQ(Text(table, 1, 1), "short");
  EXPECT_LE(GridMemory(*r), Allowed(file));
}

TEST(ResourceLimits, ExtremeRecordNumbers) {
  // Record numbers 4,294,967,295 (-1 as a signed number: no row), 2,147,483,647 (the
  // last row there is) and 1.
  const tpsw::Table t = NotesTable();
  Bytes file;
  {
    tpsw::Writer w(&file);
    w.AddTable(t);
    for (std::int32_t rec : {std::int32_t(-1), std::int32_t(2147483647), std::int32_t(1)}) {
      tpsw::Payload p(t.RecordLength());
      p.PutLong(0, rec);
      w.AddRow(1, rec, p, {{0, "memo " + std::to_string(rec)}});
    }
  }
  auto r = Load(file);
  auto& table = Sheet(*r, 0);
  // Rows without cells are removed: the two real rows remain, in record order.
  EXPECT_EQ(table.Cells.RowCount, 2);
  EXPECT_EQ(Text(table, 0, 0), "1");
  EXPECT_EQ(Text(table, 0, 1), "2147483647");
  EXPECT_EQ(Text(table, 1, 1), "memo 2147483647");
  EXPECT_LE(GridMemory(*r), std::size_t(4) << 20);
}

TEST(ResourceLimits, ArrayWithMoreElementsThanBytes) {
  // A damaged element count: 65,535 Long elements over 4 bytes. The definition is
  // damaged: the table is left out and its rows are counted.
  tpsw::Table t;
  t.number = 1;
  t.name = "ARR";
  t.fields = {tpsw::Field(tpsw::kLong, "A:ID", 0, 4), tpsw::Field(tpsw::kLong, "A:V", 4, 4)};
  t.fields[1].elements = 65535;
  std::vector<std::vector<std::string>> rows;
  for (int i = 1; i <= 3; ++i) rows.push_back({std::to_string(i), ""});
  Bytes file = tpsw::Fixture(t, rows);
  auto r = Load(file);
  EXPECT_EQ(r->Sheets().Count(), 0);
  const std::vector<std::string> lines = r->Damage().Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "Warning: the definition of table ARR is damaged (field A:V has more elements "
            "than bytes).");
  EXPECT_EQ(lines[1],
            "Warning: table ARR has 3 data records but no usable definition; they were not "
            "written.");

  // A Byte array of 60,000 elements in a record that ends after its first four bytes:
  // the four values, then empty elements.
  t.fields = {tpsw::Field(tpsw::kLong, "A:ID", 0, 4), tpsw::Field(tpsw::kByte, "A:B", 4, 60000)};
  t.fields[1].elements = 60000;
  Bytes shortRow;
  {
    tpsw::Writer w(&shortRow);
    w.AddTable(t);
    tpsw::Payload p(8);
    p.PutLong(0, 1).PutByte(4, 1).PutByte(5, 2).PutByte(6, 3).PutByte(7, 4);
    w.AddRow(1, 1, p);
  }
  auto s = Load(shortRow);
  EXPECT_EQ(Text(Sheet(*s, 0), 1, 0), "(1,2,3,4" + std::string(59996, ',') + ")");
}
