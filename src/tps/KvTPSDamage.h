// What a load of a damaged file passed over or could only read in part: unreadable
// pages, a damaged block table, a file cut short, damaged or missing definitions,
// incomplete memos and BLOBs. Each kind is counted where it is found and reported as
// one warning line at the end of the load; in strict mode the first one ends the load.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

class TTPSDamage {
 public:
  // The first damage reported throws Exception with its warning text.
  bool Strict = false;

  // A page (or the area where one should be) at offset whose header, run-length
  // encoding or record framing does not hold together.
  void PageLost(std::uint64_t offset);
  // A block-table entry pointing past the file, into the middle of a page or before the
  // block before it; found: pages found where no intact entry points.
  void BlockEntryDamaged(std::size_t entry);
  void PagesFoundBySearch(std::uint64_t found) { pagesFound_ += found; }
  void CutShort(std::uint64_t actual, std::uint64_t stated);
  void DefinitionDamaged(std::int32_t table, const std::string& why);
  // Data records of a table that has no usable definition: not written.
  void RecordsWithoutDefinition(std::int32_t table, std::uint64_t count);
  // A memo or BLOB piece stored twice with different bytes (the first is kept).
  void PieceConflict(std::int32_t table);
  // A memo with a gap in its pieces, or a BLOB whose pieces fall short of its length.
  void MemoIncomplete(std::int32_t table, std::int32_t recordNumber, bool blob);
  // The definition of a table was taken from another file.
  void DefinitionTaken(std::int32_t table, const std::string& from);
  // The name warnings give a table (otherwise its number).
  void NameTable(std::int32_t table, const std::string& name);

  // Something was lost or left out (a definition taken from elsewhere, or a damaged one
  // of a table without data records, is not a loss).
  bool Lossy() const;
  bool Any() const { return Lossy() || !taken_.empty(); }
  std::uint64_t PagesLost() const { return lostPages_; }
  // One line per kind of damage (and per table), each starting with "Warning: ".
  std::vector<std::string> Lines() const;
  void Clear() {
    const bool strict = Strict;
    *this = TTPSDamage();
    Strict = strict;
  }

 private:
  struct Table {
    std::string DefinitionDamage;
    std::uint64_t WithoutDefinition = 0;
    std::uint64_t Conflicts = 0;
    std::vector<std::int32_t> IncompleteMemos, IncompleteBlobs;
    std::string TakenFrom;
  };
  Table& At(std::int32_t table) { return tables_[table]; }
  std::string TableText(std::int32_t table) const;
  void Fail(const std::string& line) const;

  std::uint64_t lostPages_ = 0;
  std::vector<std::uint64_t> lostAt_;  // the first few
  std::set<std::size_t> badEntries_;
  std::uint64_t pagesFound_ = 0;
  std::uint64_t actualSize_ = 0, statedSize_ = 0;
  std::map<std::int32_t, Table> tables_;
  std::map<std::int32_t, std::string> names_;
  std::set<std::int32_t> taken_;
};

// A count with thousands separators: 3812 -> "3,812".
std::string TpsGroupedNumber(std::uint64_t n);
