#include "tps/KvTPSContainer.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <system_error>

#include "cells/KvExceptions.h"
#include "cells/KvSystemFiles.h"
#include "tps/KvTPSDamage.h"
#include "tps/KvTPSReadAhead.h"
#include "tps/KvTPSRecords.h"

namespace {

constexpr std::size_t kChunkSize = 1 << 20;
// A page body never legitimately expands beyond 64 KiB (its size fields are 16 bits);
// a damaged one stops growing here.
constexpr std::size_t kMaxExpanded = 1 << 22;

// What the records of a load may cost in memory: kLoadBudgetPerByte bytes per byte of
// the file plus kLoadBudgetFixed. Real files stay far below (their pages expand about
// two to four times); a damaged or hostile one that packs tens of thousands of shared
// one-byte records into every page would otherwise take hundreds of times its size.
constexpr std::uint64_t kLoadBudgetPerByte = 64;
constexpr std::uint64_t kLoadBudgetFixed = std::uint64_t(32) << 20;
// Estimated cost of a kept record besides its data (the record, its body, the list
// entry), and of a data record handed to a sink.
constexpr std::uint64_t kRecordCost = sizeof(TTPSRecord) + 96;
constexpr std::uint64_t kSinkRecordCost = 32;

}  // namespace

// ---- Byte store ----

TTPSByteStore::Bytes TTPSByteStore::Store(std::span<const std::uint8_t> bytes) {
  Bytes b;
  b.Size = std::uint32_t(bytes.size());
  if (bytes.empty()) return b;
  if (chunks_.empty() || chunks_.back().Cap - chunks_.back().Used < bytes.size() ||
      !chunks_.back().Mem) {
    Chunk c;
    c.Cap = std::max(kChunkSize, bytes.size());
    c.Mem.reset(new std::uint8_t[c.Cap]);
    held_ += c.Cap;
    chunks_.push_back(std::move(c));
  }
  Chunk& c = chunks_.back();
  std::uint8_t* dst = c.Mem.get() + c.Used;
  std::memcpy(dst, bytes.data(), bytes.size());
  c.Used += bytes.size();
  ++c.Live;
  b.Ptr = dst;
  b.Chunk = std::uint32_t(chunks_.size() - 1);
  return b;
}

void TTPSByteStore::Release(Bytes& b) {
  if (!b.Ptr) return;
  if (b.Chunk < chunks_.size()) {
    Chunk& c = chunks_[b.Chunk];
    if (c.Live > 0 && --c.Live == 0 && b.Chunk + 1 != chunks_.size()) {
      held_ -= c.Cap;
      c.Mem.reset();
      c.Cap = c.Used = 0;
    }
  }
  b = Bytes{};
}

void TTPSByteStore::Clear() {
  chunks_.clear();
  held_ = 0;
}

// ---- Records ----

TTPSRecord::TTPSRecord() = default;
TTPSRecord::~TTPSRecord() = default;
TTPSRecord::TTPSRecord(TTPSRecord&&) noexcept = default;
TTPSRecord& TTPSRecord::operator=(TTPSRecord&&) noexcept = default;

// ---- Pages ----

namespace {

// Runs of at most this many bytes are written as one fixed-size copy or fill (cheaper
// than a call for the short runs most pages are made of); the output keeps this much
// room beyond the bytes written while it is written.
constexpr std::size_t kShortRun = 32;

// Expands into out from index start on (out ends up holding its first start bytes, then
// the expansion) until the stored bytes end or out reaches limit bytes (by at most one
// run more); false for a zero skip byte. The runs are written straight into out, which
// is sized ahead (to start + sizeHint, or what it held) and grows only when a run does
// not fit: a reused out is not grown run by run, nor filled beyond what is needed.
bool Expand(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out, std::size_t start,
            std::size_t limit, std::size_t sizeHint = 0) {
  out.resize(std::max({out.size(), start + sizeHint + kShortRun, start + 2 * kShortRun}));
  // Kept in locals: stores through byte pointers could otherwise alias the vector's.
  std::uint8_t* base = out.data();
  std::uint8_t* dst = base + start;
  std::uint8_t* end = base + out.size();
  const std::uint8_t* const src = in.data();
  const std::size_t n = in.size();
  const std::size_t stop = std::max(limit, start);
  // Makes room for more bytes after dst, and the short-run margin after them.
  auto fit = [&](std::size_t more) {
    if (std::size_t(end - dst) >= more + kShortRun) return;
    const std::size_t at = std::size_t(dst - base);
    out.resize(std::max(2 * out.size(), at + more + kShortRun));
    base = out.data();
    dst = base + at;
    end = base + out.size();
  };
  bool ok = true;
  std::size_t p = 0;
  // The last stored byte is never needed: the loop stops at n - 1 consumed bytes.
  while (n > 0 && p < n - 1 && std::size_t(dst - base) < stop) {
    const std::uint8_t b = src[p++];
    if (b == 0) {
      ok = false;
      break;
    }
    std::size_t count = b;
    if (b >= 0x80) {
      if (p >= n) break;
      count = std::size_t(b & 0x7F) + std::size_t(src[p++]) * 128;
    }
    const std::size_t avail = std::min(count, n - p);
    fit(avail);
    if (avail <= kShortRun && n - p >= kShortRun)
      std::memcpy(dst, src + p, kShortRun);
    else if (avail)
      std::memcpy(dst, src + p, avail);
    dst += avail;
    p += avail;
    if (avail < count) break;  // the stored bytes end inside the literal run
    if (p < n - 1) {
      const std::uint8_t rep = src[p - 1];
      const std::uint8_t r = src[p++];
      std::size_t times = r;
      if (r >= 0x80) {
        if (p >= n) break;
        times = std::size_t(r & 0x7F) + std::size_t(src[p++]) * 128;
      }
      fit(times);
      if (times <= kShortRun)
        std::memset(dst, rep, kShortRun);
      else
        std::memset(dst, rep, times);
      dst += times;
    }
  }
  out.resize(std::size_t(dst - base));
  return ok;
}

// Expands a page body into out from index start on (sizeHint: the size it should
// expand to).
void ExpandPage(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out, std::size_t start,
                std::size_t sizeHint = 0) {
  if (!Expand(in, out, start, kMaxExpanded, sizeHint))
    throw Exception("Incorrect RLE skip byte (0x00) for encoding");
}

}  // namespace

void TpsExpandPage(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out) {
  ExpandPage(in, out, out.size());
}

bool TpsExpandPageExactly(std::span<const std::uint8_t> stored, std::size_t expandedSize,
                          std::vector<std::uint8_t>& out) {
  // What stays in out from before is overwritten, never read: it need not be cleared.
  return Expand(stored, out, 0, expandedSize + 1, expandedSize) && out.size() == expandedSize;
}

bool TpsPageFramingOk(std::span<const std::uint8_t> body, std::uint32_t count) {
  const std::size_t n = body.size();
  std::size_t p = 0;
  std::uint32_t previous = 0;  // the previous record's length: what can be shared
  for (std::uint32_t k = 0; k < count; ++k) {
    if (p >= n) return false;
    const std::uint8_t flags = body[p];
    std::uint32_t length = previous, shared = 0;
    if (k == 0) {
      if (n - p < 5 || (flags & 0xC0) != 0xC0) return false;
      length = TpsLe16(&body[p + 1]);
      p += 5;
    } else {
      ++p;
      const std::size_t lengths = ((flags & 0x80) ? 2 : 0) + ((flags & 0x40) ? 2 : 0);
      if (n - p < lengths) return false;
      if (flags & 0x80) length = TpsLe16(&body[p]);
      p += lengths;
      shared = flags & 0x3F;
      if (shared > previous || shared > length) return false;
    }
    if (n - p < length - shared) return false;
    p += length - shared;
    previous = length;
  }
  return p == n;
}

namespace {

void Classify(TTPSRecord& r, std::span<const std::uint8_t> data, std::size_t& bodyStart) {
  bodyStart = 0;
  if (!data.empty() && data[0] == 0xFE) {
    r.TableNumber = 0;
    r.Kind = 0xFE;
    bodyStart = 1;
  } else if (r.HeaderLength > 4 && data.size() >= 5) {
    r.TableNumber = std::int32_t(std::uint32_t(data[0]) << 24 | std::uint32_t(data[1]) << 16 |
                                 std::uint32_t(data[2]) << 8 | std::uint32_t(data[3]));
    r.Kind = data[4];
    bodyStart = 5;
  } else {
    r.TableNumber = 0;
    r.Kind = 0;
  }
}

bool Kept(std::uint8_t kind) {
  return kind == tpsKindData || kind == tpsKindMetaData || kind == tpsKindDefinition ||
         kind == tpsKindMemo || kind == tpsKindTableName;
}

}  // namespace

namespace {

// Walks the records of an expanded page body. Each record with data is handed to
// fn(indexInPage, flags, data, recordLength, headerLength) with its whole data (the
// part shared with the previous record included), in `data`: a reused buffer that only
// grows (its first `have` bytes are the last record's), or with Append, where every
// record is written after the ones before it (and stays) from its start on (data only
// grows: it may hold more bytes than the records).
// Damaged lengths end the page quietly; a first record without both lengths fails.
// True when the count records fill the body exactly (what TpsPageFramingOk checks).
template <bool Append = false, typename Fn>
bool WalkRecords(std::span<const std::uint8_t> body, std::uint32_t count,
                 std::vector<std::uint8_t>& data, Fn&& fn) {
  std::size_t have = 0;
  std::size_t at = 0, prevAt = 0;  // where the record and the one before it lie in data
  std::size_t used = 0;            // bytes of data the records take (Append)
  bool havePrev = false;
  std::uint32_t prevLen = 0;
  std::uint16_t prevHdr = 0;
  std::size_t p = 0;
  const std::size_t n = body.size();
  std::uint32_t k = 0;
  for (; k < count && p < n; ++k) {
    std::uint8_t flags = body[p];
    std::uint32_t recLen;
    std::uint16_t hdrLen;
    std::size_t shared = 0;
    if (!havePrev) {
      if (n - p < 5) return false;
      if ((flags & 0xC0) != 0xC0) throw Exception("Incorrect start record in page");
      recLen = TpsLe16(&body[p + 1]);
      hdrLen = TpsLe16(&body[p + 3]);
      p += 5;
    } else {
      ++p;
      recLen = prevLen;
      hdrLen = prevHdr;
      if (flags & 0x80) {
        if (n - p < 2) return false;
        recLen = TpsLe16(&body[p]);
        p += 2;
      }
      if (flags & 0x40) {
        if (n - p < 2) return false;
        hdrLen = TpsLe16(&body[p]);
        p += 2;
      }
      shared = flags & 0x3F;
      // A damaged prefix count: nothing to share it with; the rest of the page is lost.
      if (shared > have || shared > recLen) return false;
    }
    const std::size_t fresh = recLen - shared;
    if (recLen > 0 && n - p < fresh) return false;  // the record runs past the page
    if constexpr (Append) {
      at = used;
      used += recLen;
      if (data.size() < used) data.resize(used);
      if (shared) std::memcpy(data.data() + at, data.data() + prevAt, shared);
      prevAt = at;
    } else if (data.size() < recLen) {
      data.resize(recLen);
    }
    if (fresh) std::memcpy(data.data() + at + shared, body.data() + p, fresh);
    have = recLen;
    p += fresh;
    havePrev = true;
    prevLen = recLen;
    prevHdr = hdrLen;
    if (recLen == 0) continue;  // no data, no body, kind 0: not kept
    fn(k, flags, std::span<const std::uint8_t>(data.data() + at, recLen), recLen, hdrLen);
  }
  return k == count && p == n;
}

// Keeps one record of a page as the load does: data records (and memo records the sink
// wants) go to the sink, the other kinds worth keeping into the lists.
struct TRecordCutter {
  TTPSRecords& records;
  TTPSRecords& memos;
  TTPSByteStore& store;
  std::uint64_t pageOffset;
  TTPSDataSink* sink;

  void operator()(std::uint32_t k, std::uint8_t flags, std::span<const std::uint8_t> data,
                  std::uint32_t recLen, std::uint16_t hdrLen) const {
    TTPSRecord r;
    r.HeaderLength = hdrLen;
    std::size_t bodyStart = 0;
    Classify(r, data, bodyStart);
    if (!Kept(r.Kind)) return;
    if (sink && r.Kind == tpsKindData) {
      // The record number: four big-endian bytes, zeros past the data.
      std::uint8_t number[4] = {};
      for (std::size_t i = 0; i < 4 && bodyStart + i < data.size(); ++i)
        number[i] = data[bodyStart + i];
      sink->DataRecord(pageOffset, k, r.TableNumber, std::int32_t(TpsBe32(number)), data, hdrLen);
      return;
    }
    if (sink && r.Kind == tpsKindMemo &&
        sink->MemoRecord(pageOffset, k, r.TableNumber, data, hdrLen))
      return;
    r.IndexInPage = std::int32_t(k);
    r.Flags = flags;
    r.RecordLength = recLen;
    r.Body = TpsCreateBody(r.Kind);
    std::size_t pos = bodyStart;
    r.Body->Parse(data, pos, flags, recLen, hdrLen);
    r.Data = store.Store(data);
    if (r.Kind == tpsKindMemo) {
      static_cast<TTPSRecordMemoBody&>(*r.Body).InsertionNumber = std::int32_t(memos.Count());
      memos.Add(std::move(r));
    } else {
      records.Add(std::move(r));
    }
  }
};

void CutRecords(std::span<const std::uint8_t> body, std::uint32_t count, TTPSRecords& records,
                TTPSRecords& memos, TTPSByteStore& store, std::uint64_t pageOffset,
                TTPSDataSink* sink, std::vector<std::uint8_t>& scratch) {
  WalkRecords(body, count, scratch, TRecordCutter{records, memos, store, pageOffset, sink});
}

// The same for a page whose records were walked already.
void CutWalkedRecords(const TTPSWalkedRecords& walked, TTPSRecords& records, TTPSRecords& memos,
                      TTPSByteStore& store, std::uint64_t pageOffset, TTPSDataSink* sink) {
  const TRecordCutter cut{records, memos, store, pageOffset, sink};
  for (const TTPSWalkedRecords::Item& it : walked.Items)
    cut(it.Index, it.Flags, std::span(walked.Bytes.data() + it.Start, it.Length), it.Length,
        it.Header);
}

}  // namespace

void TpsCutRecords(std::span<const std::uint8_t> body, std::uint32_t count, TTPSRecords& records,
                   TTPSRecords& memos, TTPSByteStore& store) {
  std::vector<std::uint8_t> scratch;
  CutRecords(body, count, records, memos, store, 0, nullptr, scratch);
}

bool TpsWalkRecords(std::span<const std::uint8_t> body, std::uint32_t count,
                    TTPSWalkedRecords& walked) {
  walked.Items.clear();
  // Sized once for what a page's records usually take (their data and a few shared
  // bytes each): grown record by record, the buffers of the pages prepared ahead would
  // leave as much memory again in pieces.
  const std::size_t usual = body.size() + 16 * std::size_t(count);
  if (walked.Bytes.size() < usual) walked.Bytes.resize(usual);
  return WalkRecords<true>(
      body, count, walked.Bytes,
      [&](std::uint32_t k, std::uint8_t flags, std::span<const std::uint8_t> data,
          std::uint32_t recLen, std::uint16_t hdrLen) {
        const auto start = std::uint32_t(data.data() - walked.Bytes.data());
        walked.Items.push_back({k, start, recLen, hdrLen, flags});
      });
}

// ---- Pages read again ----

void TTPSReleaseBehind::Reached(std::span<const std::uint8_t> file, std::uint64_t offset) {
  if (offset + 2 * kStep < released_) released_ = offset;
  if (offset >= released_ + 2 * kStep) {
    TpsReleaseMappedBytes(file, released_, offset - kStep);
    released_ = offset - kStep;
  }
}

void TpsReleaseMappedBytes(std::span<const std::uint8_t> file, std::uint64_t from,
                           std::uint64_t to) {
  to = std::min<std::uint64_t>(to, file.size());
  if (to > from) SysReleaseMappedRange(file.data() + from, std::size_t(to - from));
}

bool TTPSFileView::DecryptWith(const TTPSOwnerKey& key) {
  if (file_.size() < kTpsHeaderSize) return false;
  std::array<std::uint8_t, 512> header;
  std::memcpy(header.data(), file_.data(), header.size());
  DecryptOwnerBytes(key, header);
  if (!TpsHeaderSignatureOk(header)) return false;
  header_ = header;
  key_ = key;
  rangeCount_ = TpsBlockRanges(header, file_.size(), ranges_);
  decrypting_ = true;
  return true;
}

std::span<const std::uint8_t> TTPSFileView::Read(std::uint64_t pos, std::size_t length,
                                                 std::vector<std::uint8_t>& scratch) const {
  if (pos >= file_.size()) return {};
  const std::size_t n = std::size_t(std::min<std::uint64_t>(length, file_.size() - pos));
  if (!decrypting_) return file_.subspan(std::size_t(pos), n);
  // Whole blocks around the bytes asked for, decrypted where a range covers them as
  // DecryptTpsImage does (a range's tail shorter than a block stays as it is); the
  // header as decrypted.
  const std::uint64_t from = pos / 64 * 64;
  const std::uint64_t to = std::min<std::uint64_t>(file_.size(), (pos + n + 63) / 64 * 64);
  scratch.assign(file_.begin() + std::ptrdiff_t(from), file_.begin() + std::ptrdiff_t(to));
  for (std::size_t i = 0; i < rangeCount_; ++i) {
    const std::uint64_t lo = std::max(from, ranges_[i].start);
    const std::uint64_t hi = std::min(to, ranges_[i].end);
    if (lo < hi)
      DecryptOwnerBytes(key_, std::span(scratch.data() + (lo - from), std::size_t(hi - lo)));
  }
  if (from < kTpsHeaderSize)
    std::memcpy(scratch.data(), header_.data() + from,
                std::size_t(std::min<std::uint64_t>(to, kTpsHeaderSize) - from));
  return std::span<const std::uint8_t>(scratch.data() + (pos - from), n);
}

TTPSPageCache::TTPSPageCache(const TTPSFileView& file, bool releaseBehind)
    : file_(file), releaseBehind_(releaseBehind) {}

bool TTPSPageCache::Record(std::uint64_t pageOffset, std::uint32_t indexInPage,
                           std::span<const std::uint8_t>& data, std::uint16_t& headerLength) {
  ++clock_;
  Page* page = nullptr;
  for (Page& p : pages_)
    if (p.Offset == pageOffset) page = &p;
  if (!page) {
    page = &pages_[0];
    for (Page& p : pages_)
      if (p.LastUse < page->LastUse) page = &p;
    Load(*page, pageOffset);
    // Pages are asked for in file order mostly: what lies well behind is given back.
    if (releaseBehind_) released_.Reached(file_.Raw(), pageOffset);
  }
  page->LastUse = clock_;
  if (indexInPage >= page->Items.size() || page->Items[indexInPage].Start == kNoItem) return false;
  const Item& it = page->Items[indexInPage];
  data = std::span<const std::uint8_t>(page->Bytes.data() + it.Start, it.Length);
  headerLength = it.Header;
  return true;
}

void TTPSPageCache::Load(Page& page, std::uint64_t pos) {
  page.Offset = pos;
  page.Items.clear();
  const std::uint64_t size = file_.Size();
  if (pos >= size || size - pos < kTpsPageHeaderSize) return;
  const TTPSPageHeader h = TpsPageHeader(file_.Read(pos, kTpsPageHeaderSize, read_).data());
  const std::uint16_t recordCount = h.RecordCount;
  if (h.PageSize < kTpsPageHeaderSize || recordCount == 0) return;
  const std::uint64_t bodyEnd = std::min<std::uint64_t>(pos + h.PageSize, size);
  std::span<const std::uint8_t> body =
      file_.Read(pos + kTpsPageHeaderSize, std::size_t(bodyEnd - pos - kTpsPageHeaderSize), read_);
  if (!h.Plain()) {
    ExpandPage(body, expanded_, 0, h.ExpandedSize);
    body = expanded_;
  }
  page.Items.assign(recordCount, Item{});
  WalkRecords<true>(body, recordCount, page.Bytes,
                    [&](std::uint32_t k, std::uint8_t, std::span<const std::uint8_t> data,
                        std::uint32_t, std::uint16_t hdrLen) {
                      Item& it = page.Items[k];
                      it.Start = std::uint32_t(data.data() - page.Bytes.data());
                      it.Length = std::uint32_t(data.size());
                      it.Header = hdrLen;
                    });
}

namespace {

bool SameHeader(const TTPSPageHeader& a, const TTPSPageHeader& b) {
  return a.PageSize == b.PageSize && a.ExpandedSize == b.ExpandedSize &&
         a.RecordCount == b.RecordCount && a.Level == b.Level;
}

// What the load does with a block-table entry, given the end of the last entry walked.
enum class TEntryUse { Empty, Damaged, Walked };
TEntryUse UseOf(const TTPSBlockEntry& e, std::uint64_t previousEnd, std::uint64_t size,
                bool cutShort) {
  if (e.Start == e.End) return TEntryUse::Empty;
  if (cutShort && e.Start >= size) return TEntryUse::Empty;  // lost with the tail of the file
  if (e.Start > e.End || e.Start < previousEnd || (!cutShort && e.End > size))
    return TEntryUse::Damaged;
  return TEntryUse::Walked;
}

// The block entries the load walks, in order.
std::vector<TTPSBlockEntry> WalkedBlocks(const std::uint8_t* header, std::uint64_t size,
                                         bool cutShort) {
  std::vector<TTPSBlockEntry> walked;
  std::uint64_t previousEnd = kTpsHeaderSize;
  for (std::size_t i = 0; i < kTpsBlockCount; ++i) {
    const TTPSBlockEntry e = TpsBlockEntry(header, i);
    if (UseOf(e, previousEnd, size, cutShort) != TEntryUse::Walked) continue;
    previousEnd = e.End;
    walked.push_back(e);
  }
  return walked;
}

}  // namespace

void TpsCollectRecords(const TTPSFileView& file, std::uint8_t (&header)[512], TTPSRecords& records,
                       TTPSRecords& memos, TTPSByteStore& store, TTPSDataSink* dataSink,
                       TTPSDamage* damage, std::atomic<std::uint64_t>* position,
                       TTPSReadAheadMode readAhead) {
  std::memset(header, 0, sizeof header);
  std::vector<std::uint8_t> read;  // decrypted bytes of the header or of a page
  const std::span<const std::uint8_t> head = file.Read(0, kTpsHeaderSize, read);
  // A file shorter than the header is not a TopSpeed file.
  if (!TpsHeaderSignatureOk(head)) {
    if (!head.empty()) std::memcpy(header, head.data(), head.size());
    throw EKvIFileFormatException(
        "File signature is not correct. Possible bad file or custom algorithm used to "
        "encypt/compress this file.");
  }
  std::memcpy(header, head.data(), kTpsHeaderSize);
  const std::uint64_t size = file.Size();
  TTPSPreparedPage own;  // a page prepared here, when the second thread has not
  std::vector<std::uint8_t> scratch;

  // Data records handed to the sink are counted for the memory budget.
  struct CountingSink : TTPSDataSink {
    TTPSDataSink* inner = nullptr;
    std::uint64_t count = 0;
    void DataRecord(std::uint64_t pageOffset, std::uint32_t indexInPage, std::int32_t tableNumber,
                    std::int32_t recordNumber, std::span<const std::uint8_t> data,
                    std::uint16_t headerLength) override {
      ++count;
      inner->DataRecord(pageOffset, indexInPage, tableNumber, recordNumber, data, headerLength);
    }
    // A memo piece kept by the sink costs its place; its bytes count too, as the
    // texts assembled from the pieces later take that much.
    bool MemoRecord(std::uint64_t pageOffset, std::uint32_t indexInPage, std::int32_t tableNumber,
                    std::span<const std::uint8_t> data, std::uint16_t headerLength) override {
      if (!inner->MemoRecord(pageOffset, indexInPage, tableNumber, data, headerLength))
        return false;
      ++count;
      memoBytes += data.size();
      return true;
    }
    void Passed(std::uint64_t offset) override { inner->Passed(offset); }
    std::uint64_t memoBytes = 0;
  } counting;
  counting.inner = dataSink;
  if (dataSink) dataSink = &counting;
  const std::uint64_t budget = kLoadBudgetFixed + kLoadBudgetPerByte * size;
  auto checkBudget = [&] {
    const std::uint64_t used = store.BytesHeld() +
                               std::uint64_t(records.Count() + memos.Count()) * kRecordCost +
                               counting.count * kSinkRecordCost + counting.memoBytes;
    if (used > budget)
      throw Exception("The file is damaged: its pages hold far more records than its size allows");
  };
  TTPSDamage ignored;
  TTPSDamage& report = damage ? *damage : ignored;
  // Real files state their length in the header (some leave it 0).
  const std::uint64_t stated = TpsStatedFileSize(header);
  const bool cutShort = stated > size;
  if (cutShort) report.CutShort(size, stated);

  // Pages of the blocks may be prepared ahead by a second thread (not those searched).
  std::optional<TTPSReadAhead> ahead;
  // Reads the page at pos when its header, expansion and records hold together;
  // false otherwise (nothing of it is kept).
  auto readPage = [&](std::uint64_t pos, const TTPSPageHeader& h) {
    if (size - pos < h.PageSize) return false;            // cut off by the end of the file
    if (h.Level != 0 || h.RecordCount == 0) return true;  // index pages are not read
    const TTPSPreparedPage* page = ahead ? ahead->Take(pos) : nullptr;
    if (!page || !SameHeader(page->Header, h)) {
      TpsPreparePage(file, pos, h, own);
      page = &own;
    }
    if (!page->Ok) return false;
    if (page->Walked)
      CutWalkedRecords(page->Records, records, memos, store, pos, dataSink);
    else
      CutRecords(page->Body, h.RecordCount, records, memos, store, pos, dataSink, scratch);
    if (dataSink) dataSink->Passed(pos);
    if (position) position->store(pos + h.PageSize, std::memory_order_relaxed);
    checkBudget();
    return true;
  };
  // Reads the pages of [start, end) one after another. A page that cannot be read is
  // counted, as is a place where no page is found (once up to the next page). Searching
  // (outside the blocks), only pages are looked at, and one that cannot be read and runs
  // into the next block is a stale page partly overwritten by it: not counted. Returns
  // the pages read.
  std::vector<TTPSBlockEntry> foundPages;  // pages found by searching
  auto walk = [&](std::uint64_t start, std::uint64_t end, bool searching) {
    std::uint64_t found = 0;
    bool lost = false;
    std::uint64_t pos = start;
    while (pos < end && pos < size && size - pos >= kTpsPageHeaderSize) {
      const TTPSPageHeader h = TpsPageHeader(file.Read(pos, kTpsPageHeaderSize, read).data());
      const bool inPlace = TpsPageInPlace(h, pos);
      if (inPlace && readPage(pos, h)) {
        ++found;
        if (searching) foundPages.push_back({pos, pos + h.PageSize});
        lost = false;
        pos = TpsNextPageBoundary(pos + h.PageSize);
        continue;
      }
      // A block that starts where no page is: decided once the search is done.
      const bool doubtfulStart = !searching && pos == start && !inPlace;
      if (searching ? inPlace && end - pos >= h.PageSize : (inPlace || !lost) && !doubtfulStart)
        report.PageLost(pos);
      lost = true;
      pos = TpsNextPageBoundary(pos + kTpsPageHeaderSize);
    }
    return found;
  };

  // Entries whose numbers hold together are walked. A damaged one (past the end of a
  // file that is not cut short, before the end of the block before it) is not, and the
  // parts of the file that no walked entry covers are then searched for pages. So are
  // they when an entry starts where no page is: when a page found there holds its start,
  // the entry pointed into the middle of it; otherwise its first page is lost. An intact
  // file is never searched: the stale pages it keeps outside its blocks stay unread.
  std::vector<TTPSBlockEntry> walked;
  std::vector<std::size_t> doubtful;  // entries that start where no page is
  bool search = false;
  std::uint64_t previousEnd = kTpsHeaderSize;
  if (readAhead == TTPSReadAheadMode::On ||
      (readAhead == TTPSReadAheadMode::Auto && TTPSReadAhead::Pays(size))) {
    try {
      ahead.emplace(file, WalkedBlocks(header, size, cutShort));
    } catch (const std::system_error&) {
      // No second thread: the pages are all prepared here.
    }
  }
  for (std::size_t i = 0; i < kTpsBlockCount; ++i) {
    const TTPSBlockEntry e = TpsBlockEntry(header, i);
    const TEntryUse use = UseOf(e, previousEnd, size, cutShort);
    if (use == TEntryUse::Empty) continue;
    if (use == TEntryUse::Damaged) {
      report.BlockEntryDamaged(i);
      search = true;
      continue;
    }
    if (size - e.Start < kTpsPageHeaderSize ||
        !TpsPageInPlace(TpsPageHeader(file.Read(e.Start, kTpsPageHeaderSize, read).data()),
                        e.Start)) {
      doubtful.push_back(i);
      search = true;
    }
    previousEnd = e.End;
    walked.push_back(e);
    walk(e.Start, e.End, false);
  }
  ahead.reset();
  if (!search) return;
  std::uint64_t from = kTpsHeaderSize, found = 0;
  for (const TTPSBlockEntry& e : walked) {
    if (e.Start > from) found += walk(from, e.Start, true);
    from = std::max(from, e.End);
  }
  if (from < size) found += walk(from, size, true);
  report.PagesFoundBySearch(found);
  for (std::size_t i : doubtful) {
    const std::uint64_t start = TpsBlockEntry(header, i).Start;
    bool inFoundPage = false;
    for (const TTPSBlockEntry& p : foundPages)
      inFoundPage = inFoundPage || (p.Start < start && start < p.End);
    if (inFoundPage)
      report.BlockEntryDamaged(i);
    else
      report.PageLost(start);
  }
}
