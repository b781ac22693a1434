// Small TopSpeed files, one per feature of the format, written with the project's
// writer. They seed the reader's fuzzer and are the starting points of the
// damaged-file tests. Deterministic: the same bytes every time.
#pragma once

#include <cstdint>
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
    o.definitionOrder = {2, 0, 3, 1};
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
