// Table definitions: field, memo and key entries, split definitions, type codes.
#include <gtest/gtest.h>

#include "tps/KvTPSRecords.h"
#include "tps/KvTPSSchema.h"
#include "tps/TpsTestUtil.h"
#include "tpswriter/TpsWriter.h"

using tpstest::FieldNames;
using tpstest::Load;
using tpstest::Sheet;
using tpstest::Text;

namespace {

tpsw::Table Wide() {
  tpsw::Table t;
  t.number = 3;
  t.name = "WIDE";
  t.fields = {
      tpsw::Field(tpsw::kLong, "W:ID", 0, 4),
      tpsw::Field(tpsw::kString, "W:CODE", 4, 6, 1, 0, "@s6"),
      tpsw::Field(tpsw::kString, "W:PLAIN", 10, 5),
      tpsw::Field(tpsw::kCString, "W:CSTR", 15, 8),
      tpsw::Field(tpsw::kPString, "W:PSTR", 23, 8, 1, 0, "@s7"),
      tpsw::Field(tpsw::kDecimal, "W:AMOUNT", 31, 4, 1, 2),
      tpsw::Field(tpsw::kShort, "W:LAST", 35, 2),
  };
  t.memos = {tpsw::Memo("W:NOTES"), tpsw::Memo("W:IMAGE", true)};
  t.keys = {tpsw::Key("W:KEYID", {tpsw::KeyPart(1)}),
            tpsw::Key("W:KEYBOTH", {tpsw::KeyPart(2), tpsw::KeyPart(1, 1)})};
  return t;
}

std::vector<std::vector<std::string>> WideRows() {
  return {{"1", "AB", "xy", "c1", "p1", "12.34", "-5", "note one", "\x01\x02"},
          {"2", "CD", "zz", "c2", "p2", "-0.5", "6", "", "blob"}};
}

void ExpectWide(TClarionTPS& r) {
  ASSERT_EQ(r.Sheets().Count(), 1);
  auto& t = Sheet(r, 0);
  EXPECT_EQ(t.Caption, "WIDE");
  EXPECT_EQ(t.TableNumber, 3);
  EXPECT_EQ(FieldNames(t), (std::vector<std::string>{"ID", "CODE", "PLAIN", "CSTR", "PSTR",
                                                     "AMOUNT", "LAST", "NOTES", "IMAGE"}));
  EXPECT_EQ(t.FieldCount, 9);
  EXPECT_EQ(t.MemoCount, 2);
  EXPECT_EQ(t.KeyCount, 2);
  EXPECT_EQ(t.DefinitionWord2, 37);
  EXPECT_EQ(t.Fields[1].Picture, "@s6");
  EXPECT_EQ(t.Fields[5].Decimals, 2);
  ASSERT_EQ(t.Keys.size(), 2u);
  EXPECT_EQ(t.Keys[1].Name, "W:KEYBOTH");
  ASSERT_EQ(t.Keys[1].Components.size(), 2u);
  EXPECT_EQ(t.Keys[1].Components[1].FieldNumber, 1);
  EXPECT_EQ(t.Keys[1].Components[1].Flags, 1);
  ASSERT_EQ(t.Cells.RowCount, 2);
  EXPECT_EQ(Text(t, 1, 0), "AB    ");
  EXPECT_EQ(Text(t, 2, 0), "xy   ");
  EXPECT_EQ(Text(t, 3, 0), "c1");
  EXPECT_EQ(Text(t, 4, 0), "p1");
  EXPECT_EQ(Text(t, 5, 0), "12.34");
  EXPECT_EQ(Text(t, 6, 0), "-5");
  EXPECT_EQ(Text(t, 7, 0), "note one");
  EXPECT_EQ(Text(t, 8, 0), "\x01\x02");
  EXPECT_EQ(Text(t, 5, 1), "-0.5");
  EXPECT_TRUE(t.Cells.GetValue(7, 1).IsNull());
  EXPECT_EQ(Text(t, 8, 1), "blob");
}

}  // namespace

TEST(TpsDefinition, EntriesOfEveryKindRoundTrip) {
  auto r = Load(tpsw::Fixture(Wide(), WideRows()));
  ExpectWide(*r);
  EXPECT_EQ(Sheet(*r, 0).Fields[7].Type, tpsMEMO);
  EXPECT_EQ(Sheet(*r, 0).Fields[8].Type, tpsBLOB);
}

// The table schema every output form reads: the definition's facts per column, and keys
// naming their columns by field number.
TEST(TpsDefinition, TableSchemaOfADefinition) {
  auto r = Load(tpsw::Fixture(Wide(), WideRows()));
  ASSERT_EQ(r->TableOfSheet(0), &Sheet(*r, 0));
  EXPECT_EQ(r->TableOfSheet(1), nullptr);
  const TTableSchema schema = TpsTableSchema(*r->TableOfSheet(0));
  EXPECT_EQ(schema.Name, "WIDE");
  EXPECT_EQ(schema.Number, 3);
  struct Want {
    const char* name;
    TTPSTypeCode type;
    std::uint16_t size;
    std::uint8_t digits, decimals;
    char letter;
    bool numeric, groupLike;
  };
  const Want want[] = {
      {"ID", tpsLong, 4, 0, 0, 'L', true, false},
      {"CODE", tpsChar, 6, 0, 0, 'C', false, false},
      {"PLAIN", tpsChar, 5, 0, 0, 'C', false, false},
      {"CSTR", tpsVarChar, 8, 0, 0, 'V', false, false},
      {"PSTR", tpsMaskString, 8, 0, 0, 'M', false, false},
      {"AMOUNT", tpsDecimal, 4, 7, 2, 'D', true, false},
      {"LAST", tpsShort, 2, 0, 0, 'S', true, false},
      {"NOTES", tpsMEMO, 1000, 0, 0, 'M', false, false},
      {"IMAGE", tpsBLOB, 0, 0, 0, 'B', false, false},
  };
  ASSERT_EQ(schema.Columns.size(), std::size(want));
  for (std::size_t i = 0; i < std::size(want); ++i) {
    const TTableColumn& c = schema.Columns[i];
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(c.Name, want[i].name);
    EXPECT_EQ(c.Type, want[i].type);
    EXPECT_EQ(c.Size, want[i].size);
    EXPECT_EQ(c.Digits, want[i].digits);
    EXPECT_EQ(c.Decimals, want[i].decimals);
    EXPECT_EQ(c.Letter, want[i].letter);
    EXPECT_EQ(c.Numeric, want[i].numeric);
    EXPECT_EQ(c.GroupLike, want[i].groupLike);
  }
  EXPECT_TRUE(schema.Columns[8].IsBlob() && schema.Columns[8].IsMemoOrBlob());
  EXPECT_EQ(schema.Columns[8].Flags, 4);
  EXPECT_TRUE(schema.Columns[7].IsMemo() && !schema.Columns[7].IsBlob());
  ASSERT_EQ(schema.Keys.size(), 2u);
  EXPECT_EQ(schema.Keys[1].Name, "W:KEYBOTH");
  ASSERT_EQ(schema.Keys[1].Parts.size(), 2u);
  EXPECT_EQ(schema.Keys[1].Parts[0].Column, 1);
  EXPECT_FALSE(schema.Keys[1].Parts[0].Descending);
  EXPECT_EQ(schema.Keys[1].Parts[1].Column, 0);
  EXPECT_TRUE(schema.Keys[1].Parts[1].Descending);
}

TEST(TpsDefinition, SplitDefinitionsJoinedInBlockOrder) {
  // Three pieces stored last first, in the order 2, 0, 1 and so on; a piece stored
  // twice counts once.
  const std::size_t third = (tpsw::DefinitionContent(Wide()).size() + 2) / 3;
  for (auto order : std::vector<std::vector<int>>{{}, {2, 0, 1}, {1, 2, 0}, {0, 2, 1, 2}}) {
    SCOPED_TRACE(testing::PrintToString(order));
    tpsw::Options o;
    o.definitionPieceSize = third;
    o.definitionOrder = order;
    std::vector<std::uint8_t> file = tpsw::Fixture(Wide(), WideRows(), o);
    TClarionTPS r;
    r.ResetGrid();
    r.KeepOpen = true;
    TMemoryStream s(file);
    r.LoadFromStream(s);
    ExpectWide(r);
    int definitions = 0;
    for (const auto& rec : r.Records().Items()) definitions += rec.Kind == tpsKindDefinition;
    EXPECT_EQ(definitions, 1);
  }
  // Two tables, each split in several pieces.
  std::vector<std::uint8_t> file;
  {
    tpsw::Options o;
    o.definitionPieceSize = 25;
    tpsw::Writer w(&file, o);
    tpsw::Table a = Wide();
    tpsw::Table b = Wide();
    b.number = 4;
    b.name = "OTHER";
    w.AddTable(a);
    w.AddTable(b);
    tpsw::Payload p(a.RecordLength());
    tpsw::PutValue(p, a.fields[0], "9");
    w.AddRow(3, 1, p);
    w.AddRow(4, 1, p);
  }
  auto r = Load(file);
  ASSERT_EQ(r->Sheets().Count(), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Sheet(*r, i).Fields.size(), 9u);
    EXPECT_EQ(Text(Sheet(*r, i), 0, 0), "9");
  }
  EXPECT_EQ(Sheet(*r, 1).Caption, "OTHER");
}

TEST(TpsDefinition, FieldsSortedByIndexAndTypeCodes) {
  tpsw::Table t;
  t.name = "T";
  t.fields = {tpsw::Field(tpsw::kShort, "T:C", 4, 2), tpsw::Field(tpsw::kShort, "T:A", 0, 2),
              tpsw::Field(0x15, "T:ODD", 6, 2), tpsw::Field(tpsw::kShort, "T:B", 2, 2)};
  t.fields[0].index = 3;
  t.fields[1].index = 1;
  t.fields[2].index = 4;
  t.fields[3].index = 2;
  t.memos = {tpsw::Memo("T:M2"), tpsw::Memo("T:M1")};
  auto r = Load(tpsw::Fixture(t, {{"3", "1", "", "2", "", ""}}));
  auto& s = Sheet(*r, 0);
  EXPECT_EQ(FieldNames(s), (std::vector<std::string>{"A", "B", "C", "ODD", "M2", "M1"}));
  EXPECT_EQ(s.Fields[3].Type, tpsUnknown);
  EXPECT_EQ(Text(s, 0, 0), "1");
  EXPECT_EQ(Text(s, 2, 0), "3");
  EXPECT_TRUE(s.Cells.GetValue(3, 0).IsNull());

  const char* names[] = {"Unknow",  "Byte",       "Short", "UShort", "Date",    "Time",
                         "Long",    "ULong",      "Float", "Double", "Decimal", "Char",
                         "VarChar", "MaskString", "Group", "BLOB",   "MEMO",    "String"};
  for (int i = 0; i < 18; ++i) EXPECT_STREQ(TpsTypeName(std::uint8_t(i)), names[i]);
  EXPECT_EQ(TpsInternalType(0x11), tpsUnknown);
  EXPECT_EQ(TpsInternalType(0x66), tpsMEMO);
  EXPECT_EQ(TpsInternalType(0x67), tpsBLOB);
  EXPECT_EQ(TpsInternalType(0x12), tpsChar);
}

TEST(TpsDefinition, MemoFlagBitFourMarksBlob) {
  for (int flags : {0, 1, 4, 7}) {
    tpsw::Table t;
    t.name = "M";
    t.fields = {tpsw::Field(tpsw::kByte, "M:X", 0, 1)};
    t.memos = {tpsw::Memo("M:DATA", (flags & 4) != 0)};
    t.memos[0].flags = flags;
    auto r = Load(tpsw::Fixture(t, {{"1", "payload"}}));
    auto& s = Sheet(*r, 0);
    EXPECT_EQ(s.Fields[1].Type, (flags & 4) ? tpsBLOB : tpsMEMO) << flags;
    EXPECT_EQ(Text(s, 1, 0), "payload") << flags;
  }
}

TEST(TpsDefinition, ShortAndTruncatedDefinitions) {
  // A definition record whose counts promise more than its bytes hold, and one too
  // short for its counts: both damaged, no failure, the table is left out and named.
  std::vector<std::uint8_t> file;
  {
    tpsw::Writer w(&file);
    w.AddRecord({0xFE, 'T', 'R', 0, 0, 0, 7}, 3);
    w.AddRecord({0, 0, 0, 7, 0xFA, 0, 0, 1, 0, 4, 0, 9, 0, 0, 0, 0, 0,
                 // one complete Long entry, then nothing for the other eight
                 0x06, 0, 0, 'T', ':', 'A', 0, 1, 0, 4, 0, 0, 0, 1, 0},
                7);
    w.AddRecord({0, 0, 0, 8, 0xFA, 0, 0, 1, 0}, 7);  // counts cut short
    tpsw::Payload p(4);
    p.PutLong(0, 42);
    w.AddRow(7, 1, p);
  }
  auto r = Load(file);
  EXPECT_EQ(r->Sheets().Count(), 0);
  EXPECT_EQ(r->Damage().Lines(),
            (std::vector<std::string>{
                "Warning: the definition of table TR is damaged (its entries do not end where "
                "it ends).",
                "Warning: table TR has 1 data record but no usable definition; it was not "
                "written.",
                "Warning: the definition of table number 8 is damaged (it has no fields)."}));
}
