#include "tps/KvTPSMemos.h"

#include <algorithm>
#include <tuple>

#include "tps/KvTPSBytes.h"
#include "tps/KvTPSDamage.h"

namespace {

// Memo record body after table number and kind: record number (big-endian), memo
// number, sequence number (big-endian); zeros past the data, as the body parser reads.
std::uint8_t ByteAt(std::span<const std::uint8_t> d, std::size_t i) {
  return i < d.size() ? d[i] : 0;
}

bool KeyLess(const TTPSMemoPiece& a, const TTPSMemoPiece& b) {
  return std::tie(a.Table, a.Record, a.Memo, a.Sequence) <
         std::tie(b.Table, b.Record, b.Memo, b.Sequence);
}

}  // namespace

void TTPSMemoPieces::Add(std::uint32_t page, std::uint32_t indexInPage, std::int32_t table,
                         std::span<const std::uint8_t> data, std::uint16_t headerLength) {
  TTPSMemoPiece p;
  p.Table = table;
  std::uint8_t number[4];
  for (std::size_t i = 0; i < 4; ++i) number[i] = ByteAt(data, 5 + i);
  p.Record = std::int32_t(TpsBe32(number));
  p.Memo = ByteAt(data, 9);
  p.Sequence = std::uint16_t(ByteAt(data, 10) << 8 | ByteAt(data, 11));
  p.Page = page;
  p.IndexInPage = std::uint16_t(indexInPage);
  p.Length = headerLength < data.size() ? std::uint16_t(data.size() - headerLength) : 0;
  if (p.Length >= 4) p.Head = TpsLe32(data.data() + headerLength);
  pieces_.push_back(p);
}

void TTPSMemoPieces::Sort() {
  // Files written memo after memo need no sorting.
  if (!std::is_sorted(pieces_.begin(), pieces_.end(), KeyLess))
    std::stable_sort(pieces_.begin(), pieces_.end(), KeyLess);
}

void TTPSMemoPieces::DropDuplicates(std::span<const std::uint64_t> pageOffsets,
                                    TTPSPageCache& pages, TTPSDamage* damage) {
  const auto bytesOf = [&](const TTPSMemoPiece& p, std::vector<std::uint8_t>& out) {
    out.clear();
    std::span<const std::uint8_t> data;
    std::uint16_t header = 0;
    if (p.Page < pageOffsets.size() &&
        pages.Record(pageOffsets[p.Page], p.IndexInPage, data, header))
      out.assign(data.begin(), data.end());
  };
  std::vector<std::uint8_t> first, again;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < pieces_.size(); ++i) {
    const TTPSMemoPiece& p = pieces_[i];
    if (kept > 0 && !KeyLess(pieces_[kept - 1], p)) {
      // The same piece again: the first one stays. Other bytes are a conflict.
      if (damage) {
        const TTPSMemoPiece& k = pieces_[kept - 1];
        bool conflict = k.Length != p.Length;
        if (!conflict) {
          bytesOf(k, first);
          bytesOf(p, again);
          conflict = first != again;
        }
        if (conflict) damage->PieceConflict(p.Table);
      }
      continue;
    }
    pieces_[kept++] = p;
  }
  pieces_.Truncate(kept);
}

bool TTPSMemoPieces::Incomplete(std::size_t first, std::size_t last, bool blob,
                                std::span<const std::uint64_t> pageOffsets,
                                TTPSPageCache& pages) const {
  last = std::min(last, pieces_.size());
  if (first >= last) return false;
  std::size_t total = 0;
  for (std::size_t i = first; i < last; ++i) {
    if (pieces_[i].Sequence != i - first) return true;  // a sequence number missing
    total += pieces_[i].Length;
  }
  if (!blob) return false;
  // A BLOB starts with the length of the data that follows, which the first piece
  // holds unless it is very short.
  if (total < 4) return true;
  if (pieces_[first].Length >= 4) return pieces_[first].Head != total - 4;
  std::string text;
  TpsAssembleMemo(std::span(pieces_).subspan(first, last - first), false, pageOffsets, pages,
                  text);
  if (text.size() < 4) return true;
  const std::uint32_t stated = TpsLe32(reinterpret_cast<const std::uint8_t*>(text.data()));
  return stated != total - 4;
}

std::pair<std::size_t, std::size_t> TTPSMemoPieces::TableRange(std::int32_t table) const {
  auto less = [](const TTPSMemoPiece& p, std::int32_t t) { return p.Table < t; };
  auto greater = [](std::int32_t t, const TTPSMemoPiece& p) { return t < p.Table; };
  const auto first = std::lower_bound(pieces_.begin(), pieces_.end(), table, less);
  const auto last = std::upper_bound(first, pieces_.end(), table, greater);
  return {std::size_t(first - pieces_.begin()), std::size_t(last - pieces_.begin())};
}

std::pair<std::size_t, std::size_t> TTPSMemoPieces::Find(std::size_t from, std::size_t to,
                                                         std::int32_t record, std::uint8_t memo,
                                                         std::size_t& cursor) const {
  to = std::min(to, pieces_.size());
  auto less = [](const TTPSMemoPiece& p, std::pair<std::int32_t, std::uint8_t> k) {
    return std::tie(p.Record, p.Memo) < std::tie(k.first, k.second);
  };
  const std::pair<std::int32_t, std::uint8_t> want{record, memo};
  // The first piece not below the wanted key: a few steps from the cursor when the
  // keys asked for rise, otherwise by bisection.
  std::size_t first = std::clamp(cursor, from, to);
  if (first > from && !less(pieces_[first - 1], want)) {
    first = std::size_t(std::lower_bound(pieces_.begin() + std::ptrdiff_t(from),
                                         pieces_.begin() + std::ptrdiff_t(to), want, less) -
                        pieces_.begin());
  } else {
    for (int steps = 0; first < to && less(pieces_[first], want) && steps < 8; ++steps) ++first;
    if (first < to && less(pieces_[first], want))
      first = std::size_t(std::lower_bound(pieces_.begin() + std::ptrdiff_t(first),
                                           pieces_.begin() + std::ptrdiff_t(to), want, less) -
                          pieces_.begin());
  }
  std::size_t last = first;
  while (last < to && pieces_[last].Record == record && pieces_[last].Memo == memo) ++last;
  cursor = last;
  return {first, last};
}

std::vector<TTPSMemoPiece> TTPSMemoPieces::Take(std::size_t first, std::size_t last) {
  std::vector<TTPSMemoPiece> out;
  for (std::size_t i = first; i < last && i < pieces_.size(); ++i)
    if (!pieces_[i].Used) {
      pieces_[i].Used = 1;
      out.push_back(pieces_[i]);
    }
  return out;
}

TTPSMemoText TpsAssembleMemo(std::span<const TTPSMemoPiece> pieces, bool blob,
                             std::span<const std::uint64_t> pageOffsets, TTPSPageCache& pages,
                             std::string& out) {
  const std::size_t start = out.size();
  for (const TTPSMemoPiece& p : pieces) {
    if (p.Length == 0 || p.Page >= pageOffsets.size()) continue;
    std::span<const std::uint8_t> data;
    std::uint16_t header = 0;
    if (!pages.Record(pageOffsets[p.Page], p.IndexInPage, data, header) || header >= data.size())
      continue;
    out.append(reinterpret_cast<const char*>(data.data()) + header, data.size() - header);
  }
  TTPSMemoText text{start, out.size() - start};
  if (blob) {
    // A BLOB starts with the length of the data that follows.
    if (text.Length < 4) {
      out.resize(start);
      return {};
    }
    const std::uint32_t stated = TpsLe32(reinterpret_cast<const std::uint8_t*>(out.data()) + start);
    text.At = start + 4;
    text.Length = std::min<std::size_t>(stated, text.Length - 4);
  }
  if (text.Length == 0) {
    out.resize(start);
    return {};
  }
  out.resize(text.At + text.Length);
  return text;
}
