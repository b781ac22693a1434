// A file of three tables that exercises rows decoded on demand: every field type, an
// array, memos and BLOBs, short payloads, impossible dates, record numbers out of order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tpswriter/TpsWriter.h"

namespace tpstest {

using namespace tpsw;

// Where the table definitions lie in the file.
enum class Definitions {
  First,     // before the data records
  Last,      // after them
  Pieces,    // first, each in several records
  Replaced,  // first with other fields, then again after the data records
};

// Three tables on small pages: every field type, an array, a memo and a BLOB, short
// payloads, impossible dates, rows whose only value is a memo, record numbers out of
// order, 0 and negative (or, inOrder, rising from 1), and (table 3) a record number
// given twice.
inline std::vector<std::uint8_t> MixedFile(std::uint64_t seed, const std::string& owner = "",
                                           Definitions definitions = Definitions::First,
                                           bool inOrder = false) {
  Table a;
  a.number = 1;
  a.name = "ALPHA";
  a.fields = {Field{kLong, "A:ID", 0, 4},
              Field{kString, "A:NAME", 4, 12},
              Field{kDecimal, "A:AMT", 16, 5, 1, 2},
              Field{kDate, "A:DAY", 21, 4},
              Field{kTime, "A:AT", 25, 4},
              Field{kDouble, "A:PRICE", 29, 8},
              Field{kByte, "A:B", 37, 1},
              Field{kShort, "A:S", 38, 2},
              Field{kULong, "A:U", 40, 4},
              Field{kCString, "A:C", 44, 8},
              Field{kPString, "A:P", 52, 8},
              Field{kFloat, "A:F", 60, 4},
              Field{kFloat, "A:R", 64, 6},
              Field{kDate, "A:DAYS", 70, 12, 3}};
  a.memos = {Memo{"A:NOTE"}, Memo{"A:BIN", true}};
  Table b;
  b.number = 2;
  b.name = "BETA";
  b.fields = {Field{kDecimal, "B:D", 0, 3, 1, 1}};
  b.memos = {Memo{"B:TEXT"}};
  Table c;
  c.number = 3;
  c.name = "GAMMA";
  c.fields = {Field{kLong, "C:ID", 0, 4}, Field{kString, "C:X", 4, 6}};
  c.memos = {Memo{"C:M"}};

  Options o;
  o.pageSize = 0x400;
  o.memoPieceSize = 40;
  o.memoPiecesReversed = seed % 2 == 1;  // pieces out of sequence order in some files
  o.owner = owner;
  if (definitions == Definitions::Pieces) o.definitionPieceSize = 30;
  std::vector<std::uint8_t> bytes;
  Writer w(&bytes, o);
  if (definitions == Definitions::Replaced) {
    // Dates where the first table keeps its numbers, one field less in the second.
    Table wrongA = a;
    wrongA.fields[3].offset = 0;
    wrongA.fields[4].offset = 0;
    Table wrongB = b;
    wrongB.fields.clear();
    w.AddTable(wrongA);
    w.AddTable(wrongB);
    w.AddTable(c);
  } else if (definitions != Definitions::Last) {
    w.AddTable(a);
    w.AddTable(b);
    w.AddTable(c);
  }
  Rng r{seed};
  std::int32_t lastOfGamma = 1;
  for (int i = 0; i < 400; ++i) {
    const int which = r.Below(3);
    // Distinct numbers, out of order with some 0 or negative unless inOrder.
    const std::int32_t recno = inOrder ? i + 1 : i % 23 == 5 ? -(i % 3) : (i * 389) % 1201 + 1;
    std::vector<MemoText> memos;
    if (which == 0) {
      Payload p(a.RecordLength());
      p.PutLong(0, recno).PutString(4, 12, "name " + std::to_string(r.Below(1000)));
      p.PutDecimal(16, 5, 2, std::to_string(r.Below(20000) - 10000) + ".25");
      if (r.Below(6) == 0)
        p.PutDate(21, 2020, 13, 40);  // impossible
      else if (r.Below(5) != 0)
        p.PutDate(21, 1990 + r.Below(30), 1 + r.Below(12), 1 + r.Below(28));
      p.PutTime(25, r.Below(30), r.Below(60), r.Below(60), r.Below(120));
      p.PutDouble(29, r.Below(100000) / 7.0).PutByte(37, std::uint8_t(r.Below(256)));
      p.PutShort(38, std::int16_t(r.Below(60000) - 30000)).PutULong(40, std::uint32_t(r.Next()));
      p.PutCString(44, 8, "cs" + std::to_string(r.Below(99))).PutPString(52, 8, "ps");
      p.PutSReal(60, float(r.Below(1000)) / 8.0f).PutReal48(64, r.Below(1000) / 3.0);
      p.PutDate(70, 2001, 1 + r.Below(14), 1).PutDate(74, 2002, 2, 30).PutDate(78, 2003, 3, 3);
      if (r.Below(4) == 0) p.Bytes().resize(std::size_t(r.Below(int(a.RecordLength()))));
      if (r.Below(3) == 0)
        memos.push_back({0, "note " + std::string(std::size_t(r.Below(90)), 'n')});
      if (r.Below(4) == 0) memos.push_back({1, std::string(std::size_t(r.Below(70)), '\x01')});
      // Now and then a BLOB whose pieces fill more pages than are kept at a time.
      if (i % 40 == 3) memos.push_back({1, std::string(6000, 'b') + std::to_string(recno)});
      w.AddRow(1, recno, p, memos);
    } else if (which == 1) {
      Payload p(b.RecordLength());
      // A nibble that is no digit gives no value: such a row has cells only by its memo.
      if (r.Below(2) == 0)
        p.PutBytes(0, {0x0A, 0xBC, 0xDE});
      else
        p.PutDecimal(0, 3, 1, std::to_string(r.Below(9000)) + ".5");
      if (r.Below(2) == 0) memos.push_back({0, "memo of " + std::to_string(recno)});
      w.AddRow(2, recno, p, memos);
    } else {
      Payload p(c.RecordLength());
      p.PutLong(0, recno).PutString(4, 6, std::to_string(i));
      if (r.Below(3) == 0) memos.push_back({0, "c" + std::to_string(i)});
      w.AddRow(3, recno, p, memos);
      if (recno > 0) lastOfGamma = recno;
    }
  }
  // The same number again: a shorter record, a memo of its own.
  w.AddRow(3, lastOfGamma, Payload(3), {{0, "again"}});
  if (definitions == Definitions::Last || definitions == Definitions::Replaced) {
    w.AddTable(a);
    w.AddTable(b);
    if (definitions == Definitions::Last) w.AddTable(c);
  }
  w.Finish();
  return bytes;
}

}  // namespace tpstest
