// Damage found while loading: definitions that do not fit their record or their types,
// memo and BLOB pieces stored twice or missing, and the strict load.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../../tools/tpswriter/TpsWriter.h"
#include "TestSupport.h"
#include "cells/KvExceptions.h"
#include "tps/TpsTestUtil.h"

using tpstest::Load;
using tpstest::Sheet;
using tpstest::Text;

namespace {

// A memo record: table, kind, record number, memo number, sequence number, then bytes.
std::vector<std::uint8_t> MemoPiece(std::int32_t record, std::uint8_t memo, std::uint16_t seq,
                                    const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint8_t> d = {0,
                                 0,
                                 0,
                                 1,
                                 0xFC,
                                 0,
                                 0,
                                 0,
                                 std::uint8_t(record),
                                 memo,
                                 std::uint8_t(seq >> 8),
                                 std::uint8_t(seq)};
  for (std::uint8_t b : bytes) d.push_back(b);
  return d;
}

}  // namespace

TEST(TpsDamage, DefinitionsThatDoNotFitTheirRecordOrTypes) {
  struct Case {
    std::uint8_t type;
    std::uint16_t offset, length, elements, recordLength;
    bool damaged;
  };
  const Case cases[] = {
      {tpsw::kLong, 4, 4, 1, 0, false},    {tpsw::kLong, 4, 2, 1, 0, true},
      {tpsw::kLong, 4, 12, 3, 0, false},   {tpsw::kLong, 4, 8, 3, 0, true},
      {tpsw::kULong, 4, 4, 1, 0, false},   {tpsw::kDate, 4, 4, 1, 0, false},
      {tpsw::kTime, 4, 3, 1, 0, true},     {tpsw::kShort, 4, 2, 1, 0, false},
      {tpsw::kShort, 4, 4, 1, 0, true},    {tpsw::kUShort, 4, 6, 3, 0, false},
      {tpsw::kByte, 4, 1, 1, 0, false},    {tpsw::kByte, 4, 2, 1, 0, true},
      {tpsw::kFloat, 4, 4, 1, 0, false},   {tpsw::kFloat, 4, 6, 1, 0, false},
      {tpsw::kFloat, 4, 5, 1, 0, true},    {tpsw::kDouble, 4, 8, 1, 0, false},
      {tpsw::kDouble, 4, 4, 1, 0, true},   {tpsw::kString, 4, 20, 1, 0, false},
      {tpsw::kString, 4, 20, 40, 0, true},  // more elements than bytes
      {tpsw::kDecimal, 4, 5, 1, 0, false}, {tpsw::kLong, 4, 4, 1, 8, false},
      {tpsw::kLong, 6, 4, 1, 8, true},  // past the record
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " " + std::to_string(c.length) + "/" +
                 std::to_string(c.elements) + " at " + std::to_string(c.offset));
    tpsw::Table t;
    t.name = "T";
    t.fields = {tpsw::Field(tpsw::kLong, "T:ID", 0, 4),
                tpsw::Field(c.type, "T:V", c.offset, c.length, c.elements)};
    t.recordLength = c.recordLength;
    std::vector<std::uint8_t> file;
    {
      tpsw::Writer w(&file);
      w.AddTable(t);
      tpsw::Payload p(std::max<std::size_t>(t.RecordLength(), 8));
      p.PutLong(0, 7);
      w.AddRow(1, 1, p);
    }
    auto r = Load(file);
    EXPECT_EQ(r->Sheets().Count(), c.damaged ? 0 : 1);
    EXPECT_EQ(r->Damage().Lossy(), c.damaged);
    if (c.damaged) {
      ASSERT_EQ(r->Damage().Lines().size(), 2u);
      EXPECT_EQ(r->Damage().Lines()[0].rfind(
                    "Warning: the definition of table T is damaged (field T:V ", 0),
                0u)
          << r->Damage().Lines()[0];
    } else {
      EXPECT_EQ(Text(Sheet(*r, 0), 0, 0), "7");
    }
  }
}

TEST(TpsDamage, MemoPiecesTwiceOrMissing) {
  tpsw::Table t;
  t.name = "N";
  t.fields = {tpsw::Field(tpsw::kLong, "N:ID", 0, 4)};
  t.memos = {tpsw::Memo("N:TEXT"), tpsw::Memo("N:PIC", true)};
  tpsw::Options o;
  o.memoPieceSize = 4;
  std::vector<std::uint8_t> file;
  {
    tpsw::Writer w(&file, o);
    w.AddTable(t);
    for (int i = 1; i <= 7; ++i) {
      tpsw::Payload p(4);
      p.PutLong(0, i);
      w.AddRow(1, i, p);
    }
    w.AddMemo(1, 1, 0, "abcdefgh", false);
    w.AddMemo(1, 1, 0, "abcd", false);  // the first piece again, the same bytes
    w.AddMemo(1, 2, 0, "abcdefgh", false);
    w.AddMemo(1, 2, 0, "XXXX", false);  // the first piece again, other bytes
    w.AddRecord(MemoPiece(3, 0, 0, {'a', 'b', 'c', 'd'}), 12);
    w.AddRecord(MemoPiece(3, 0, 2, {'i', 'j', 'k', 'l'}), 12);  // piece 1 missing
    w.AddMemo(1, 4, 1, "0123456789", true);
    // A BLOB of 10 bytes of which only the first piece is there.
    w.AddRecord(MemoPiece(5, 1, 0, {10, 0, 0, 0, '0', '1', '2', '3'}), 12);
    // BLOBs whose first piece is too short to hold the stated length: 5 bytes stated
    // and 3 there, then 3 stated and 3 there.
    w.AddRecord(MemoPiece(6, 1, 0, {5, 0}), 12);
    w.AddRecord(MemoPiece(6, 1, 1, {0, 0, 'x', 'y', 'z'}), 12);
    w.AddRecord(MemoPiece(7, 1, 0, {3, 0}), 12);
    w.AddRecord(MemoPiece(7, 1, 1, {0, 0, 'x', 'y', 'z'}), 12);
  }
  // Asking for rows on demand from a file that is closed when the load returns.
  TempDir dir;
  WriteFileBytes(dir.File("n.tps"), file);
  for (int mode : {0, 1, 2}) {
    SCOPED_TRACE(mode == 0 ? "every cell" : mode == 1 ? "rows on demand" : "from a file");
    TClarionTPS r;
    r.ResetGrid();
    r.LazyRows = mode > 0;
    TMemoryStream s(file);
    if (mode == 2)
      r.LoadFromFile(dir.File("n.tps"));
    else
      r.LoadFromStream(s);
    auto& n = Sheet(r, 0);
    EXPECT_EQ(Text(n, 1, 0), "abcdefgh");
    EXPECT_EQ(Text(n, 1, 1), "abcdefgh");
    EXPECT_EQ(Text(n, 1, 2), "abcdijkl");
    EXPECT_EQ(Text(n, 2, 3), "0123456789");
    EXPECT_EQ(Text(n, 2, 4), "0123");
    EXPECT_EQ(Text(n, 2, 5), "xyz");
    EXPECT_EQ(Text(n, 2, 6), "xyz");
    EXPECT_EQ(r.Damage().Lines(),
              (std::vector<std::string>{
                  "Warning: 1 memo or BLOB piece of table N was stored twice with different "
                  "bytes; the first was kept.",
                  "Warning: 1 memo of table N is incomplete (record 3).",
                  "Warning: 2 BLOBs of table N are incomplete (records 5, 6)."}));
  }
  // All or nothing: the first damage ends the load.
  TClarionTPS strict;
  strict.ResetGrid();
  strict.Strict = true;
  TMemoryStream s(file);
  try {
    strict.LoadFromStream(s);
    ADD_FAILURE() << "loaded";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(),
              "The file is damaged: a memo or BLOB piece of table N is stored twice with "
              "different bytes");
  }
}
