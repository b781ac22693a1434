// The container: header, blocks, pages, run-length encoding, record framing, and
// damaged files.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "cells/KvExceptions.h"
#include "tps/KvTPSContainer.h"
#include "tps/KvTPSRecords.h"
#include "tps/TpsTestUtil.h"
#include "tpswriter/TpsWriter.h"

using tpstest::Load;
using tpstest::Sheet;
using tpstest::Text;

namespace {

using Bytes = std::vector<std::uint8_t>;

const char* const kSignature =
    "File signature is not correct. Possible bad file or custom algorithm used to "
    "encypt/compress this file.";

tpsw::Table SmallTable() {
  tpsw::Table t;
  t.number = 1;
  t.name = "SMALL";
  t.fields = {tpsw::Field(tpsw::kLong, "SM:ID", 0, 4),
              tpsw::Field(tpsw::kString, "SM:NAME", 4, 12)};
  return t;
}

std::vector<std::vector<std::string>> SmallRows(int n) {
  std::vector<std::vector<std::string>> rows;
  for (int i = 1; i <= n; ++i) rows.push_back({std::to_string(i), "name " + std::to_string(i)});
  return rows;
}

Bytes Expand(const Bytes& in) {
  Bytes out;
  TpsExpandPage(in, out);
  return out;
}

std::string MessageOf(const Bytes& file) {
  try {
    Load(file);
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

std::uint32_t Le32At(const Bytes& b, std::size_t off) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + off, 4);
  return v;
}

}  // namespace

TEST(TpsContainer, RunLengthExpansion) {
  // Three literals, then the last one four more times; the final byte is never read.
  EXPECT_EQ(Expand({0x03, 0x41, 0x42, 0x43, 0x04, 0x01}),
            (Bytes{0x41, 0x42, 0x43, 0x43, 0x43, 0x43, 0x43}));
  // N - 1 bytes consumed after the literals: the count byte is not used.
  EXPECT_EQ(Expand({0x03, 0x41, 0x42, 0x43, 0x04}), (Bytes{0x41, 0x42, 0x43}));
  // A two-byte literal count: 5 + 2 * 128.
  Bytes in{0x85, 0x02};
  for (int i = 0; i < 261; ++i) in.push_back(std::uint8_t(i));
  in.push_back(0);
  EXPECT_EQ(Expand(in).size(), 261u);
  try {
    Expand({0x00, 0x41, 0x42});
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Incorrect RLE skip byte (0x00) for encoding");
  }
  // A literal count beyond the stored bytes copies what is there and stops.
  EXPECT_EQ(Expand({0x7F, 0x41, 0x42}), (Bytes{0x41, 0x42}));
  // The writer's encoding expands back to the original, for runs and noise alike.
  std::mt19937 rng(5);
  for (int trial = 0; trial < 200; ++trial) {
    Bytes body(rng() % 3000);
    for (auto& b : body) b = (rng() % 4 == 0) ? std::uint8_t(rng()) : std::uint8_t(rng() % 2);
    if (trial % 7 == 0) body.assign(rng() % 70000, 0x20);
    EXPECT_EQ(Expand(tpsw::EncodeRle(body)), body) << trial;
  }
}

// The expansion as first written, growing its output run by run: what the sized
// expansion must give, for damaged bodies too.
bool PlainExpand(const Bytes& in, Bytes& out, std::size_t limit) {
  const std::size_t n = in.size();
  std::size_t p = 0;
  while (n > 0 && p < n - 1 && out.size() < limit) {
    std::uint8_t b = in[p++];
    if (b == 0) return false;
    std::size_t count = b;
    if (b >= 0x80) {
      if (p >= n) break;
      count = std::size_t(b & 0x7F) + std::size_t(in[p++]) * 128;
    }
    std::size_t avail = std::min(count, n - p);
    out.insert(out.end(), in.begin() + long(p), in.begin() + long(p + avail));
    p += avail;
    if (avail < count) break;
    if (p < n - 1) {
      std::uint8_t rep = in[p - 1];
      std::uint8_t r = in[p++];
      std::size_t times = r;
      if (r >= 0x80) {
        if (p >= n) break;
        times = std::size_t(r & 0x7F) + std::size_t(in[p++]) * 128;
      }
      out.insert(out.end(), times, rep);
    }
  }
  return true;
}

TEST(TpsContainer, SizedExpansionMatchesPlainOnAnyBytes) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 3000; ++trial) {
    // Mostly small counts (many runs), some long ones, zeros now and then, any length.
    Bytes in(rng() % 400);
    for (auto& b : in) {
      const unsigned pick = rng() % 16;
      b = pick == 0 ? 0 : pick < 11 ? std::uint8_t(1 + rng() % 6) : std::uint8_t(rng());
    }
    const Bytes prefix(rng() % 3, 0x5A);  // appending to what out holds
    Bytes want = prefix, got = prefix;
    const bool ok = PlainExpand(in, want, (std::size_t(1) << 22));
    bool threw = false;
    try {
      TpsExpandPage(in, got);
    } catch (const Exception&) {
      threw = true;
    }
    ASSERT_EQ(threw, !ok) << trial;
    if (ok) {
      ASSERT_EQ(got, want) << trial;
    }
    // Exactly a size: the full one, a shorter and a longer one.
    const std::size_t full = want.size() - prefix.size();
    for (std::size_t size : {full, full / 2, full + 1}) {
      Bytes plain;
      const bool plainOk = PlainExpand(in, plain, size + 1) && plain.size() == size;
      Bytes exact{1, 2, 3};
      ASSERT_EQ(TpsExpandPageExactly(in, size, exact), plainOk) << trial << " " << size;
      if (plainOk) {
        ASSERT_EQ(exact, plain) << trial;
      }
    }
  }
}

// A page body of count data records of table 1 (numbered from 1), each sharing what
// it can with the one before it, as pages are written.
Bytes RecordsPage(std::mt19937& rng, int count) {
  Bytes body, previous;
  for (int k = 0; k < count; ++k) {
    Bytes rec{0, 0, 0, 1, tpsKindData, 0, 0, std::uint8_t(k >> 8), std::uint8_t(k + 1)};
    for (std::size_t n = rng() % 40; n-- > 0;) rec.push_back(std::uint8_t(rng() % 3));
    std::size_t shared = 0;
    while (k > 0 && shared < 63 && shared < rec.size() && shared < previous.size() &&
           rec[shared] == previous[shared])
      ++shared;
    const bool newLength = k == 0 || rec.size() != previous.size();
    body.push_back(std::uint8_t((k == 0 ? 0xC0 : newLength ? 0x80 : 0) | shared));
    if (newLength) body.insert(body.end(), {std::uint8_t(rec.size()), 0});
    if (k == 0) body.insert(body.end(), {9, 0});
    body.insert(body.end(), rec.begin() + long(shared), rec.end());
    previous = rec;
  }
  return body;
}

TEST(TpsContainer, WalkedRecordsAreTheRecordsTheLoadCuts) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 400; ++trial) {
    const int count = 1 + int(rng() % 60);
    Bytes body = RecordsPage(rng, count);
    for (int hits = trial % 4; hits-- > 0;) body[rng() % body.size()] = std::uint8_t(rng());
    TTPSRecords records, memos;
    TTPSByteStore store;
    TTPSWalkedRecords walked;
    bool cutThrew = false, walkThrew = false, whole = false;
    try {
      TpsCutRecords(body, std::uint32_t(count), records, memos, store);
    } catch (const Exception&) {
      cutThrew = true;
    }
    try {
      whole = TpsWalkRecords(body, std::uint32_t(count), walked);
    } catch (const Exception&) {
      walkThrew = true;
    }
    ASSERT_EQ(walkThrew, cutThrew) << trial;
    if (!walkThrew) {
      EXPECT_EQ(whole, TpsPageFramingOk(body, std::uint32_t(count))) << trial;
    }
    // A record more or less than the page holds does not fill it.
    if (!walkThrew && whole) {
      EXPECT_FALSE(TpsWalkRecords(body, std::uint32_t(count + 1), walked)) << trial;
      EXPECT_FALSE(count > 1 && TpsWalkRecords(body, std::uint32_t(count - 1), walked)) << trial;
      TpsWalkRecords(body, std::uint32_t(count), walked);
    }
    // Every record the load keeps is a walked one, whole; the walk gives no other data
    // record.
    std::size_t kept = 0;
    for (const TTPSWalkedRecords::Item& it : walked.Items) {
      const Bytes data(walked.Bytes.begin() + it.Start,
                       walked.Bytes.begin() + it.Start + it.Length);
      if (data.size() < 5 || it.Header <= 4 || data[4] != tpsKindData || data[0] == 0xFE) continue;
      ASSERT_LT(kept, records.Count()) << trial;
      const TTPSRecord& r = records.Items()[kept++];
      EXPECT_EQ(std::uint32_t(r.IndexInPage), it.Index) << trial;
      EXPECT_EQ(r.Flags, it.Flags) << trial;
      EXPECT_EQ(r.HeaderLength, it.Header) << trial;
      EXPECT_EQ(Bytes(r.Bytes().begin(), r.Bytes().end()), data) << trial;
    }
    EXPECT_EQ(kept, records.Count()) << trial;
    if (trial % 4 == 0) {
      EXPECT_TRUE(whole) << trial;  // intact
      EXPECT_EQ(kept, std::size_t(count)) << trial;
    }
  }
}

TEST(TpsContainer, HeaderChecks) {
  Bytes good = tpsw::Fixture(SmallTable(), SmallRows(3));
  Bytes noMagic = good;
  noMagic[14] = 'T';
  EXPECT_EQ(MessageOf(noMagic), kSignature);
  Bytes nonZero = good;
  nonZero[0] = 1;
  EXPECT_EQ(MessageOf(nonZero), kSignature);
  EXPECT_EQ(MessageOf(Bytes(good.begin(), good.begin() + 300)), kSignature);
  EXPECT_EQ(MessageOf(Bytes{}), kSignature);
  // A failed load leaves only the empty selected table.
  TClarionTPS r;
  r.ResetGrid();
  TMemoryStream s(noMagic);
  EXPECT_THROW(r.LoadFromStream(s), EKvIFileFormatException);
  EXPECT_EQ(r.Sheets().Count(), 1);
  EXPECT_EQ(Sheet(r, 0).Fields.size(), 0u);

  // A valid header alone: no tables, no failure.
  EXPECT_EQ(Load(Bytes(good.begin(), good.begin() + 512))->Sheets().Count(), 0);
}

TEST(TpsContainer, EveryBlockEntryIsRead) {
  // The only block in entry 0, or in a later entry, or the rows spread over many blocks.
  for (int first : {0, 7}) {
    tpsw::Options o;
    o.firstBlockEntry = first;
    auto r = Load(tpsw::Fixture(SmallTable(), SmallRows(50), o));
    ASSERT_EQ(r->Sheets().Count(), 1) << first;
    EXPECT_EQ(Sheet(*r, 0).Cells.RowCount, 50);
  }
  tpsw::Options many;
  many.pageSize = 256;
  many.pagesPerBlock = 1;
  Bytes file = tpsw::Fixture(SmallTable(), SmallRows(400), many);
  auto r = Load(file);
  EXPECT_EQ(Sheet(*r, 0).Cells.RowCount, 400);
  EXPECT_EQ(Text(Sheet(*r, 0), 1, 399), "name 400    ");
  // A block starting at or beyond the end of the file is passed over.
  Bytes beyond = tpsw::Fixture(SmallTable(), SmallRows(5));
  const std::uint32_t pages = std::uint32_t((beyond.size() - 512) / 256);
  for (std::uint32_t v : {pages, pages + 1000}) {
    std::memcpy(&beyond[32 + 4 * 9], &v, 4);
    std::uint32_t e = v + 4;
    std::memcpy(&beyond[272 + 4 * 9], &e, 4);
    EXPECT_EQ(Sheet(*Load(beyond), 0).Cells.RowCount, 5);
  }
}

TEST(TpsContainer, PagesPlainCompressedSharedAndSkipped) {
  tpsw::Table t = SmallTable();
  auto rows = SmallRows(300);
  Bytes reference;
  for (bool compress : {false, true})
    for (bool share : {false, true})
      for (bool leading : {false, true}) {
        tpsw::Options o;
        o.compress = compress;
        o.sharePrefixes = share;
        o.leadingEmptyRecord = leading;
        o.pageSize = 700;
        auto r = Load(tpsw::Fixture(t, rows, o));
        auto& s = Sheet(*r, 0);
        ASSERT_EQ(s.Cells.RowCount, 300);
        EXPECT_EQ(Text(s, 0, 299), "300");
        EXPECT_EQ(Text(s, 1, 122), "name 123    ");
      }

  // A page whose sizes are equal is taken as it is, even when it looks encoded.
  tpsw::Options plain;
  plain.compress = false;
  Bytes file;
  {
    tpsw::Writer w(&file, plain);
    w.AddTable(t);
    tpsw::Payload p(16);
    p.PutLong(0, 1).PutString(4, 12, "");  // spaces: would be a run when encoded
    w.AddRow(1, 1, p);
  }
  EXPECT_EQ(Text(Sheet(*Load(file), 0), 1, 0), std::string(12, ' '));

  // Index pages and a stale page between blocks add nothing.
  Bytes withStale;
  {
    tpsw::Writer w(&withStale);
    w.AddTable(t);
    tpsw::Payload p(16);
    p.PutLong(0, 1).PutString(4, 12, "live");
    w.AddRow(1, 1, p);
    w.AddIndexPage(Bytes(40, 0xC0));
    std::vector<std::uint8_t> stale{0, 0, 0, 1, 0xF3, 0, 0, 0, 9};
    stale.resize(9 + 16, 'x');
    w.AddStalePage({stale}, 9);
    w.AddRow(1, 2, p);
  }
  auto r = Load(withStale);
  EXPECT_EQ(Sheet(*r, 0).Cells.RowCount, 2);
}

TEST(TpsContainer, RecordClassification) {
  Bytes file;
  {
    tpsw::Writer w(&file);
    tpsw::Table t = SmallTable();
    t.name.clear();
    w.AddTable(t);
    // A name record with a header length of 4 or less still names the table.
    w.AddRecord({0xFE, 'A', 'B', 'C', 0, 0, 0, 1}, 4);
    // Header length 4, not a name: dropped.
    w.AddRecord({0, 0, 0, 1, 0xF3, 0, 0, 0, 7, 1, 2, 3}, 4);
    // An index record (kind byte 1) and a metadata record.
    w.AddRecord({0, 0, 0, 1, 0x01, 0, 0, 0, 1}, 9);
    w.AddRecord({0, 0, 0, 1, 0xF6, 0x42}, 5);
    tpsw::Payload p(16);
    p.PutLong(0, 5).PutString(4, 12, "five");
    w.AddRow(1, 1, p);
  }
  TClarionTPS r;
  r.ResetGrid();
  r.KeepOpen = true;
  TMemoryStream s(file);
  r.LoadFromStream(s);
  ASSERT_EQ(r.Sheets().Count(), 1);
  EXPECT_EQ(Sheet(r, 0).Caption, "ABC");
  EXPECT_EQ(Sheet(r, 0).Cells.RowCount, 1);
  int kinds[256] = {};
  for (const auto& rec : r.Records().Items()) ++kinds[rec.Kind];
  EXPECT_EQ(kinds[tpsKindData], 1);
  EXPECT_EQ(kinds[tpsKindMetaData], 1);
  EXPECT_EQ(kinds[tpsKindTableName], 1);
  EXPECT_EQ(kinds[1], 0);
  ASSERT_NE(TpsFindTableName(r.Records(), 1), nullptr);
  EXPECT_EQ(TpsFindTableName(r.Records(), 1)->Name, "ABC");
  EXPECT_EQ(TpsFindTableName(r.Records(), 2), nullptr);
}

TEST(TpsContainer, DamagedPagesEndQuietly) {
  tpsw::Options o;
  o.compress = false;
  o.leadingEmptyRecord = false;
  Bytes good = tpsw::Fixture(SmallTable(), SmallRows(4), o);
  // The first page at 512: header, then records (flags, lengths, data).
  const std::size_t page = 512, body = page + 13;
  ASSERT_EQ(Le32At(good, page), 512u);

  // The first record without both top bits: the page is passed over and counted.
  Bytes badStart = good;
  badStart[body] = 0x00;
  EXPECT_EQ(MessageOf(badStart), "");
  EXPECT_EQ(Load(badStart)->Damage().PagesLost(), 1u);

  // Page size below 13, or a page address that does not match: the page is passed over.
  for (int damage = 0; damage < 2; ++damage) {
    Bytes b = good;
    if (damage == 0) b[page + 4] = 5, b[page + 5] = 0;
    if (damage == 1) b[page] ^= 0x10;
    auto r = Load(b);
    EXPECT_EQ(r->Sheets().Count(), 0) << damage;
  }

  // A record length running past the page, a shared count longer than the previous
  // record: the rest of the page is lost, the earlier records stay.
  Bytes longRec = good;
  // Walk to the third record (table name, definition, first data record, ...).
  std::size_t p = body;
  std::uint16_t rl = std::uint16_t(longRec[p + 1] | longRec[p + 2] << 8);
  p += 5 + rl;  // second record
  std::size_t second = p;
  {
    Bytes b = longRec;
    b[second] = 0xFF;  // both lengths follow, shared 63 (longer than the previous record)
    EXPECT_EQ(Load(b)->Sheets().Count(), 0);
    Bytes d = longRec;
    d[second] = 0x85;  // shares 5 bytes but is only 3 long
    d[second + 1] = 3, d[second + 2] = 0;
    EXPECT_EQ(Load(d)->Sheets().Count(), 0);
    Bytes c = longRec;
    c[second] = 0x80;  // a new record length
    c[second + 1] = 0xFF, c[second + 2] = 0x7F;
    auto r = Load(c);
    EXPECT_EQ(r->Sheets().Count(), 0);  // the definition was lost, so no table
  }
  // A page header cut off by the end of the file, and a page body cut off.
  for (std::size_t cut : {page + 6, page + 40}) {
    Bytes b(good.begin(), good.begin() + long(cut));
    EXPECT_NO_THROW(Load(b)) << cut;
  }
}

TEST(TpsContainer, RandomDamageNeverOverrunsOrHangs) {
  tpsw::Table t = SmallTable();
  t.memos = {tpsw::Memo("SM:NOTE"), tpsw::Memo("SM:PIC", true)};
  t.fields.push_back(tpsw::Field(tpsw::kDecimal, "SM:AMT", 16, 5, 1, 2));
  t.fields.push_back(tpsw::Field(tpsw::kDate, "SM:DAY", 21, 4));
  std::vector<std::vector<std::string>> rows;
  for (int i = 1; i <= 60; ++i)
    rows.push_back({std::to_string(i), "n" + std::to_string(i), "12.5", "2020-01-02",
                    std::string(i * 7, 'm'), i % 2 ? "blob" : ""});
  tpsw::Options o;
  o.pageSize = 512;
  o.memoPieceSize = 40;
  o.definitionPieceSize = 30;
  const Bytes good = tpsw::Fixture(t, rows, o);
  std::mt19937 rng(11);
  int loaded = 0, failed = 0;
  for (int trial = 0; trial < 600; ++trial) {
    Bytes b = good;
    int hits = 1 + int(rng() % 8);
    for (int k = 0; k < hits; ++k) {
      // Mostly pages, sometimes the block table.
      std::size_t at = trial % 5 == 0 ? 32 + rng() % 480 : 512 + rng() % (b.size() - 512);
      b[at] = std::uint8_t(rng());
    }
    if (trial % 10 == 0) b.resize(512 + rng() % (b.size() - 512));
    try {
      Load(b);
      ++loaded;
    } catch (const Exception&) {
      ++failed;
    }
  }
  EXPECT_EQ(loaded + failed, 600);
  EXPECT_GT(loaded, 0);
}
