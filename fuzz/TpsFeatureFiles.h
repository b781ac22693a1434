// Small TopSpeed files, one per feature of the format, written with the project's
// writer. They seed the reader's fuzzer and are the starting points of the
// damaged-file tests. Deterministic: the same bytes every time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tpswriter/TpsWriter.h"

namespace tpsfeatures {

struct FeatureFile {
  std::string name;
  std::vector<std::uint8_t> bytes;
  std::string owner;  // the owner password of an encrypted file, else empty
};

// One field of every type, an array, a group over two fields, a memo and a BLOB.
inline tpsw::Table AllTypesTable(std::int32_t number = 1, std::string name = "ALLTYPES") {
  using namespace tpsw;
  Table t;
  t.number = number;
  t.name = std::move(name);
  t.fields = {Field(kByte, "ALL:BYTE", 0, 1),
              Field(kShort, "ALL:SHORT", 1, 2),
              Field(kUShort, "ALL:USHORT", 3, 2),
              Field(kDate, "ALL:DATE", 5, 4),
              Field(kTime, "ALL:TIME", 9, 4),
              Field(kLong, "ALL:LONG", 13, 4),
              Field(kULong, "ALL:ULONG", 17, 4),
              Field(kFloat, "ALL:SREAL", 21, 4),
              Field(kFloat, "ALL:REAL", 25, 6),
              Field(kDouble, "ALL:DOUBLE", 31, 8),
              Field(kDecimal, "ALL:DECIMAL", 39, 5, 1, 2),
              Field(kString, "ALL:STRING", 44, 12),
              Field(kCString, "ALL:CSTRING", 56, 10),
              Field(kPString, "ALL:PSTRING", 66, 10),
              Field(kLong, "ALL:ARRAY", 76, 12, 3),
              Field(kGroup, "ALL:GROUP", 88, 8),
              Field(kString, "ALL:PART1", 88, 4),
              Field(kString, "ALL:PART2", 92, 4)};
  t.memos = {Memo("ALL:NOTES"), Memo("ALL:BLOB", true)};
  t.keys = {Key("ALL:KEYLONG", {KeyPart(6)}), Key("ALL:KEYSTR", {KeyPart(12), KeyPart(1)})};
  return t;
}

inline std::vector<std::string> AllTypesRow(int i) {
  const std::string n = std::to_string(i);
  return {n,
          "-" + n,
          std::to_string(60000 + i),
          "2020-0" + std::to_string(1 + i % 9) + "-1" + std::to_string(i % 10),
          "1" + std::to_string(i % 10) + ":30:0" + std::to_string(i % 10) + ".25",
          std::to_string(-100000 * i),
          std::to_string(4000000000u + unsigned(i)),
          "1.5",
          std::to_string(i) + ".125",
          "-" + n + ".75",
          "-" + n + "1.05",
          "name " + n,
          "c" + n,
          "p" + n,
          n + "|" + std::to_string(2 * i) + "|-" + n,
          "",
          "ab" + n,
          "cd",
          i % 2 ? "memo text of row " + n + std::string(i * 40, 'm') : "",
          i % 3 ? "blob\x01\x02" + n : ""};
}

// ---- Hostile files: small files that claim far more than they hold ----

// Little-endian helpers for the raw files below.
inline void PutLe16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  b[at] = std::uint8_t(v), b[at + 1] = std::uint8_t(v >> 8);
}
inline void PutLe32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + std::size_t(k)] = std::uint8_t(v >> (8 * k));
}

// A file of raw pages, one per 256 bytes after the header, all in block entry 1. Each
// page: its stored body, the record count and expanded size its header claims.
struct RawPage {
  std::vector<std::uint8_t> stored;
  std::uint16_t recordCount = 0;
  std::uint16_t expandedSize = 0xFFFF;
};
inline std::vector<std::uint8_t> RawFile(const std::vector<RawPage>& pages) {
  std::vector<std::uint8_t> b(512, 0);
  std::memcpy(b.data() + 14, "tOpS", 4);
  std::size_t units = 0;
  for (const RawPage& p : pages) {
    const std::size_t at = b.size();
    const std::size_t pageSize = 13 + p.stored.size();
    b.resize(at + (pageSize + 255) / 256 * 256, 0);
    PutLe32(b, at, std::uint32_t(at));
    PutLe16(b, at + 4, std::uint16_t(pageSize));
    PutLe16(b, at + 6, p.expandedSize);
    PutLe16(b, at + 8, p.expandedSize);
    PutLe16(b, at + 10, p.recordCount);
    b[at + 12] = 0;
    std::memcpy(b.data() + at + 13, p.stored.data(), p.stored.size());
    units = (b.size() - 512) / 256;
  }
  PutLe32(b, 32 + 4, 0);                      // block 1 starts with the first page
  PutLe32(b, 272 + 4, std::uint32_t(units));  // and ends after the last
  return b;
}

// The page that holds the most records: 65,455 data records of table 1 (record number
// 1) stored as they are in 65,522 bytes, one full record of 63 bytes, then one-byte
// records that share all 63 bytes with the one before.
inline RawPage RecordCountBombPage() {
  // The full record: flags, lengths, table 1, data kind, record number 1, filler.
  const std::uint8_t head[] = {0xC0, 63, 0, 9, 0, 0, 0, 0, 1, 0xF3, 0, 0, 0, 1};
  RawPage p;
  p.stored.assign(65535 - 13, 0x3F);  // the flags of a record sharing all 63 bytes
  std::fill(p.stored.begin() + sizeof head, p.stored.begin() + 68, 0x41);
  std::copy(std::begin(head), std::end(head), p.stored.begin());
  p.recordCount = std::uint16_t(1 + p.stored.size() - 68);
  p.expandedSize = 65535;
  return p;
}

// A page whose stored body claims about 250 * 32 KiB (8 MiB) of expansion, holding
// one record.
inline RawPage ExpansionBombPage() {
  // A literal run of 15 bytes (one record of 10 bytes), then 246 times: the repeat
  // count 32,767 of the last literal and a one-byte literal.
  const std::uint8_t head[] = {15, 0xC0, 10, 0, 9, 0, 0, 0, 0, 1, 0xF3, 0, 0, 0, 2, 0x20};
  const std::uint8_t step[] = {0xFF, 0xFF, 1, 0x20};
  RawPage p;
  p.stored.assign(sizeof head + 246 * sizeof step + 3, 0);
  std::copy(std::begin(head), std::end(head), p.stored.begin());
  for (std::size_t k = 0; k < 246; ++k)
    std::copy(std::begin(step), std::end(step), p.stored.begin() + long(sizeof head + 4 * k));
  p.stored[p.stored.size() - 3] = 0xFF;  // a last repeat; the final byte is never read
  p.stored[p.stored.size() - 2] = 0xFF;
  p.recordCount = 1;
  return p;
}

inline std::vector<FeatureFile> FeatureFiles() {
  using namespace tpsw;
  std::vector<FeatureFile> files;
  const Table all = AllTypesTable();
  std::vector<std::vector<std::string>> rows;
  for (int i = 1; i <= 12; ++i) rows.push_back(AllTypesRow(i));

  files.push_back({"alltypes.tps", Fixture(all, rows), ""});
  {
    Options o;
    o.compress = false;
    o.sharePrefixes = false;
    o.leadingEmptyRecord = false;
    files.push_back({"plain-pages.tps", Fixture(all, rows, o), ""});
  }
  {
    // Small pages, definition in reordered pieces, memos in reversed short pieces,
    // several blocks.
    Options o;
    o.pageSize = 0x200;
    o.definitionPieceSize = 48;
    o.memoPieceSize = 16;
    o.memoPiecesReversed = true;
    o.pagesPerBlock = 2;
    o.firstBlockEntry = 3;
    files.push_back({"pieces-blocks.tps", Fixture(all, rows, o), ""});
  }
  {
    Options o;
    o.definitionPieceSize = 64;
    // The first pieces out of order, then the others: every piece is stored.
    o.definitionOrder = {2, 0, 3, 1};
    const std::size_t pieces = (DefinitionContent(all).size() + 63) / 64;
    for (int b = 4; std::size_t(b) < pieces; ++b) o.definitionOrder.push_back(b);
    files.push_back({"definition-order.tps", Fixture(all, rows, o), ""});
  }
  {
    // Two tables (one without a name record), an index page and a stale page.
    std::vector<std::uint8_t> bytes;
    {
      Writer w(&bytes);
      Table a = AllTypesTable(1, "FIRST");
      Table b = AllTypesTable(7, "");
      w.AddTable(a);
      w.AddTable(b);
      for (int i = 1; i <= 6; ++i) {
        Payload p(a.RecordLength());
        const auto values = AllTypesRow(i);
        for (std::size_t k = 0; k < a.fields.size(); ++k) PutValue(p, a.fields[k], values[k]);
        w.AddRow(1, i, p, {{0, "first " + std::to_string(i)}});
        w.AddRow(7, 100 + i, p, {{1, "second"}});
      }
      w.FlushPage();
      w.AddIndexPage(std::vector<std::uint8_t>(40, 0xC0));
      w.AddStalePage({{0, 0, 0, 1, 0xF3, 0, 0, 0, 9}}, 9);
      w.Finish();
    }
    files.push_back({"two-tables.tps", std::move(bytes), ""});
  }
  {
    // Odd values: impossible dates and times, record numbers 0 and negative, a
    // payload shorter than the record, rows out of order and repeated.
    std::vector<std::uint8_t> bytes;
    {
      Writer w(&bytes);
      w.AddTable(all);
      Payload p(all.RecordLength(), 0xFF);
      w.AddRow(1, 5, p);
      w.AddRow(1, 0, p);
      w.AddRow(1, -3, p);
      w.AddRow(1, 2, Payload(7));
      w.AddRow(1, 2, p);
      w.AddMemo(1, 9, 0, "memo without its row", false);
      w.Finish();
    }
    files.push_back({"odd-values.tps", std::move(bytes), ""});
  }
  {
    Options o;
    o.owner = "a";
    files.push_back({"encrypted.tps", Fixture(all, rows, o), "a"});
  }
  {
    // A table without fields and a table with only memos.
    Table empty;
    empty.number = 3;
    empty.name = "EMPTY";
    Table memosOnly;
    memosOnly.number = 4;
    memosOnly.name = "MEMOS";
    memosOnly.memos = {Memo("M:ONE"), Memo("M:TWO", true)};
    std::vector<std::uint8_t> bytes;
    {
      Writer w(&bytes);
      w.AddTable(empty);
      w.AddTable(memosOnly);
      w.AddRow(4, 1, Payload(0), {{0, std::string(700, 'x')}, {1, "b"}});
      w.Finish();
    }
    files.push_back({"empty-and-memos.tps", std::move(bytes), ""});
  }
  return files;
}

}  // namespace tpsfeatures
