#include "tps/KvTPSDamage.h"

#include "cells/KvExceptions.h"

namespace {

constexpr std::size_t kListed = 8;  // places named in a line; the rest are counted

// The first items of a list of count, then how many more there are.
template <typename List, typename Text>
std::string Listing(const List& items, std::uint64_t count, Text text) {
  std::string out;
  std::size_t k = 0;
  for (const auto& item : items) {
    if (k == kListed) break;
    if (k++) out += ", ";
    out += text(item);
  }
  if (count > k) out += " and " + TpsGroupedNumber(count - k) + " more";
  return out;
}

std::string Plural(std::uint64_t n, const char* one, const char* many) {
  return TpsGroupedNumber(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string TpsGroupedNumber(std::uint64_t n) {
  std::string digits = std::to_string(n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

void TTPSDamage::Fail(const std::string& line) const {
  if (Strict) throw Exception("The file is damaged: " + line);
}

void TTPSDamage::PageLost(std::uint64_t offset) {
  Fail("the page at offset " + std::to_string(offset) + " could not be read");
  ++lostPages_;
  if (lostAt_.size() < kListed) lostAt_.push_back(offset);
}

void TTPSDamage::BlockEntryDamaged(std::size_t entry) {
  Fail("entry " + std::to_string(entry) + " of the block table is damaged");
  badEntries_.insert(entry);
}

void TTPSDamage::CutShort(std::uint64_t actual, std::uint64_t stated) {
  Fail("the file is " + TpsGroupedNumber(actual) + " bytes but its header says " +
       TpsGroupedNumber(stated));
  actualSize_ = actual;
  statedSize_ = stated;
}

void TTPSDamage::DefinitionDamaged(std::int32_t table, const std::string& why) {
  Fail("the definition of " + TableText(table) + " is damaged (" + why + ")");
  At(table).DefinitionDamage = why;
}

void TTPSDamage::RecordsWithoutDefinition(std::int32_t table, std::uint64_t count) {
  if (count == 0) return;
  Fail(TableText(table) + " has data records but no usable definition");
  At(table).WithoutDefinition += count;
}

void TTPSDamage::PieceConflict(std::int32_t table) {
  Fail("a memo or BLOB piece of " + TableText(table) + " is stored twice with different bytes");
  ++At(table).Conflicts;
}

void TTPSDamage::MemoIncomplete(std::int32_t table, std::int32_t recordNumber, bool blob) {
  Fail(std::string("a ") + (blob ? "BLOB" : "memo") + " of " + TableText(table) +
       " is incomplete (record " + std::to_string(recordNumber) + ")");
  (blob ? At(table).IncompleteBlobs : At(table).IncompleteMemos).push_back(recordNumber);
}

void TTPSDamage::DefinitionTaken(std::int32_t table, const std::string& from) {
  At(table).TakenFrom = from;
  taken_.insert(table);
}

void TTPSDamage::NameTable(std::int32_t table, const std::string& name) {
  if (!name.empty()) names_[table] = name;
}

std::string TTPSDamage::TableText(std::int32_t table) const {
  auto it = names_.find(table);
  return it != names_.end() ? "table " + it->second : "table number " + std::to_string(table);
}

// A damaged definition costs the data records of its table, counted apart: one of a
// table without records loses nothing.
bool TTPSDamage::Lossy() const {
  if (lostPages_ != 0 || !badEntries_.empty() || statedSize_ != 0) return true;
  for (const auto& [number, t] : tables_)
    if (t.WithoutDefinition || t.Conflicts || !t.IncompleteMemos.empty() ||
        !t.IncompleteBlobs.empty())
      return true;
  return false;
}

std::vector<std::string> TTPSDamage::Lines() const {
  std::vector<std::string> lines;
  const std::string w = "Warning: ";
  if (statedSize_ != 0)
    lines.push_back(w + "the file is " + TpsGroupedNumber(actualSize_) +
                    " bytes but its header says " + TpsGroupedNumber(statedSize_) +
                    ": it has been cut short.");
  if (!badEntries_.empty())
    lines.push_back(
        w + "the block table is damaged (" + Plural(badEntries_.size(), "entry", "entries") + ": " +
        Listing(badEntries_, badEntries_.size(), [](std::size_t e) { return std::to_string(e); }) +
        "); pages were searched for where no intact entry points, " +
        TpsGroupedNumber(pagesFound_) + " found.");
  if (lostPages_ != 0)
    lines.push_back(
        w + Plural(lostPages_, "page", "pages") + " could not be read (at " +
        (lostPages_ == 1 ? "offset " : "offsets ") +
        Listing(lostAt_, lostPages_, [](std::uint64_t o) { return std::to_string(o); }) +
        "); their records are missing.");
  const auto records = [](const std::vector<std::int32_t>& list) {
    return Listing(list, list.size(), [](std::int32_t r) { return std::to_string(r); });
  };
  for (const auto& [number, t] : tables_) {
    const std::string name = TableText(number);
    if (!t.DefinitionDamage.empty())
      lines.push_back(w + "the definition of " + name + " is damaged (" + t.DefinitionDamage + ")" +
                      (t.TakenFrom.empty() ? "." : "; it was replaced."));
    if (!t.TakenFrom.empty())
      lines.push_back(w + "the definition of " + name + " was taken from " + t.TakenFrom + ".");
    if (t.WithoutDefinition)
      lines.push_back(w + name + " has " +
                      Plural(t.WithoutDefinition, "data record", "data records") +
                      " but no usable definition; " +
                      (t.WithoutDefinition == 1 ? "it was" : "they were") + " not written.");
    if (t.Conflicts)
      lines.push_back(w + Plural(t.Conflicts, "memo or BLOB piece", "memo or BLOB pieces") +
                      " of " + name + (t.Conflicts == 1 ? " was" : " were") +
                      " stored twice with different bytes; the first was kept.");
    if (!t.IncompleteMemos.empty())
      lines.push_back(w + Plural(t.IncompleteMemos.size(), "memo", "memos") + " of " + name +
                      (t.IncompleteMemos.size() == 1 ? " is incomplete (record "
                                                     : " are incomplete (records ") +
                      records(t.IncompleteMemos) + ").");
    if (!t.IncompleteBlobs.empty())
      lines.push_back(w + Plural(t.IncompleteBlobs.size(), "BLOB", "BLOBs") + " of " + name +
                      (t.IncompleteBlobs.size() == 1 ? " is incomplete (record "
                                                     : " are incomplete (records ") +
                      records(t.IncompleteBlobs) + ").");
  }
  return lines;
}
