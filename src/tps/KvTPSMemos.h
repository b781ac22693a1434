// Where the pieces of MEMO and BLOB texts lie, kept compactly at load, and the texts
// assembled from the file when a row is written or a cell is asked for. A load's
// memory then grows with the number of pieces, not with the bytes of memo text.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cells/KvCells.h"
#include "tps/KvTPSContainer.h"

class TTPSDamage;

// One memo record: its key (table, record number, memo number, sequence number), where
// it lies (a page of the load's page list and its place in the page) and the length
// of its text part, and the first four bytes of that text (a BLOB's first piece
// states the BLOB's length there). File order is kept among pieces of the same key.
struct TTPSMemoPiece {
  std::int32_t Table = 0;
  std::int32_t Record = 0;
  std::uint32_t Page = 0;
  std::uint32_t Head = 0;  // the first four bytes of the text, little-endian (Length >= 4)
  std::uint16_t Sequence = 0;
  std::uint16_t IndexInPage = 0;
  std::uint16_t Length = 0;  // bytes after the record's header
  std::uint8_t Memo = 0;
  std::uint8_t Used = 0;  // taken by a load that reports every cell (see Take)
};

// The memo pieces of a load, sorted once by key.
class TTPSMemoPieces {
 public:
  // A memo record cut from page `page` (an index into the load's page list).
  void Add(std::uint32_t page, std::uint32_t indexInPage, std::int32_t table,
           std::span<const std::uint8_t> data, std::uint16_t headerLength);
  // Sorts by table, record number, memo number and sequence number; pieces of the same
  // key stay in file order.
  void Sort();
  // After Sort: keeps the first piece of each key (in file order), read through pages
  // (whose page list is pageOffsets); a later one with other bytes is reported to damage.
  void DropDuplicates(std::span<const std::uint64_t> pageOffsets, TTPSPageCache& pages,
                      TTPSDamage* damage);
  // Whether the memo of the pieces [first, last) (one key but the sequence number) lacks
  // a piece, or for a BLOB, whether its pieces do not add up to its stated length.
  bool Incomplete(std::size_t first, std::size_t last, bool blob,
                  std::span<const std::uint64_t> pageOffsets, TTPSPageCache& pages) const;
  std::span<const TTPSMemoPiece> Items() const { return pieces_; }
  // The pieces of one table: [first, last) of Items().
  std::pair<std::size_t, std::size_t> TableRange(std::int32_t table) const;
  // [first, last) of the pieces of memo `memo` of record number `record` within
  // [from, to), searching from cursor (moved past the pieces found): a run of calls
  // with rising keys costs constant time per call.
  std::pair<std::size_t, std::size_t> Find(std::size_t from, std::size_t to, std::int32_t record,
                                           std::uint8_t memo, std::size_t& cursor) const;
  // Marks the pieces [first, last) as taken; returns the ones not taken before, for a
  // load that reports every cell, where a piece gives its text once.
  std::vector<TTPSMemoPiece> Take(std::size_t first, std::size_t last);

 private:
  TKvIGrownList<TTPSMemoPiece> pieces_;
};

// Appends the text of the pieces [first, last) (in their order) to out, read through
// pages (whose page list is pageOffsets). For a BLOB the leading 4-byte length is not
// part of the text and at most that many bytes follow. Returns where the text starts
// in out and its length (0: no text; out is then as it was). Pieces the pages no
// longer hold add nothing.
struct TTPSMemoText {
  std::size_t At = 0, Length = 0;
};
TTPSMemoText TpsAssembleMemo(std::span<const TTPSMemoPiece> pieces, bool blob,
                             std::span<const std::uint64_t> pageOffsets, TTPSPageCache& pages,
                             std::string& out);
