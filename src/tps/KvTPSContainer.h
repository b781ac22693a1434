// The TopSpeed container: the 512-byte header with its block table, pages of
// run-length encoded records, and the records cut from them.
//
// The whole file is given as one byte span (a mapping or a buffer); every read is
// bounded by the file, the page and the expanded buffer, so a damaged length can
// shorten what is read but never overrun it.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "tps/KvTPSBytes.h"
#include "tps/KvTPSOwner.h"

// Bytes of a whole file held in memory. Growing the buffer leaves the new bytes
// uninitialised: they are written right after, and a gigabyte need not be zeroed first.
template <class T>
struct TTPSUninitAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = TTPSUninitAllocator<U>;
  };
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};
using TTPSFileBytes = std::vector<std::uint8_t, TTPSUninitAllocator<std::uint8_t>>;

class TTPSRecordBody;
class TTPSDamage;

// Record bytes live in large chunks owned by a store; a record holds a view of its
// bytes. When every record of a chunk has released its bytes, the chunk is freed.
class TTPSByteStore {
 public:
  struct Bytes {
    const std::uint8_t* Ptr = nullptr;
    std::uint32_t Size = 0;
    std::uint32_t Chunk = 0;
    std::span<const std::uint8_t> Span() const { return {Ptr, Size}; }
  };
  TTPSByteStore() = default;
  TTPSByteStore(const TTPSByteStore&) = delete;
  TTPSByteStore& operator=(const TTPSByteStore&) = delete;

  Bytes Store(std::span<const std::uint8_t> bytes);
  // Gives back the bytes of one record; frees the chunk when it is no longer used.
  void Release(Bytes& bytes);
  void Clear();
  std::size_t BytesHeld() const { return held_; }

 private:
  struct Chunk {
    std::unique_ptr<std::uint8_t[]> Mem;
    std::size_t Used = 0, Cap = 0, Live = 0;
  };
  std::vector<Chunk> chunks_;
  std::size_t held_ = 0;
};

// One record read from the file.
class TTPSRecord {
 public:
  TTPSRecord();
  ~TTPSRecord();
  TTPSRecord(TTPSRecord&&) noexcept;
  TTPSRecord& operator=(TTPSRecord&&) noexcept;

  std::int32_t IndexInPage = 0;
  std::uint8_t Flags = 0;
  std::uint32_t RecordLength = 0;  // a joined definition may exceed 16 bits
  std::uint16_t HeaderLength = 0;
  std::unique_ptr<TTPSRecordBody> Body;  // absent for records without data
  TTPSByteStore::Bytes Data;
  std::int32_t TableNumber = 0;
  std::uint8_t Kind = 0;

  std::span<const std::uint8_t> Bytes() const { return Data.Span(); }
};

// An owning list of records. Stored in blocks (a deque): growing never moves the
// records already read, and memory follows the count without doubling.
class TTPSRecords {
 public:
  std::size_t Count() const { return items_.size(); }
  TTPSRecord& operator[](std::size_t i) { return items_[i]; }
  const TTPSRecord& operator[](std::size_t i) const { return items_[i]; }
  void Add(TTPSRecord&& r) { items_.push_back(std::move(r)); }
  void Clear() { items_.clear(); }
  std::deque<TTPSRecord>& Items() { return items_; }
  const std::deque<TTPSRecord>& Items() const { return items_; }

 private:
  std::deque<TTPSRecord> items_;
};

// Record kinds.
enum : std::uint8_t {
  tpsKindData = 0xF3,
  tpsKindMetaData = 0xF6,
  tpsKindDefinition = 0xFA,
  tpsKindMemo = 0xFC,
  tpsKindTableName = 0xFE,
};

// Takes the data records of a load instead of the record list, for loading rows on
// demand: where each one lies, its table and its record number.
class TTPSDataSink {
 public:
  virtual ~TTPSDataSink() = default;
  // data: the whole record (as TTPSPageCache::Record gives it later), headerLength
  // its header length; both valid during the call only.
  virtual void DataRecord(std::uint64_t pageOffset, std::uint32_t indexInPage,
                          std::int32_t tableNumber, std::int32_t recordNumber,
                          std::span<const std::uint8_t> data, std::uint16_t headerLength) = 0;
  // A memo record, the same way; true when the sink keeps where it lies, so that it
  // need not go into the memo list.
  virtual bool MemoRecord(std::uint64_t pageOffset, std::uint32_t indexInPage,
                          std::int32_t tableNumber, std::span<const std::uint8_t> data,
                          std::uint16_t headerLength) {
    (void)pageOffset, (void)indexInPage, (void)tableNumber, (void)data, (void)headerLength;
    return false;
  }
  // Every byte before offset has been read (pages are read in file order mostly).
  virtual void Passed(std::uint64_t offset) { (void)offset; }
};

// The bytes of a TopSpeed file as the reader sees them: the file itself, or for a file
// encrypted with an owner password its bytes as decrypted, each read decrypting only
// the 64-byte blocks it touches (no decrypted copy of the whole file is made). The file
// must stay in place while the view is used.
class TTPSFileView {
 public:
  TTPSFileView() = default;
  explicit TTPSFileView(std::span<const std::uint8_t> file) : file_(file) {}
  // From now on the file reads as decrypted with key, when its header decrypts to the
  // signature; otherwise false, and the view is unchanged.
  bool DecryptWith(const TTPSOwnerKey& key);
  bool Decrypting() const { return decrypting_; }
  std::uint64_t Size() const { return file_.size(); }
  // The file's own bytes (encrypted ones as they are).
  std::span<const std::uint8_t> Raw() const { return file_; }
  // Bytes [pos, pos + length), clipped to the file: a view of the file, or of scratch
  // for a decrypted read (valid until scratch changes).
  std::span<const std::uint8_t> Read(std::uint64_t pos, std::size_t length,
                                     std::vector<std::uint8_t>& scratch) const;

 private:
  std::span<const std::uint8_t> file_;
  bool decrypting_ = false;
  TTPSOwnerKey key_{};
  std::array<std::uint8_t, 512> header_{};  // decrypted
  std::array<TTPSByteRange, 60> ranges_{};
  std::size_t rangeCount_ = 0;
};

// Tells the system that the bytes [from, to) of a file mapping are not needed for now:
// they leave the process's memory and come back from the file when read again. Only
// for a read-only mapping of a file (never for memory the process owns).
void TpsReleaseMappedBytes(std::span<const std::uint8_t> file, std::uint64_t from,
                           std::uint64_t to);

// Checks the header and collects the records of every block into the records list
// (data, metadata, definition and table name records, in file order) and the memo
// list (memo records, each numbered by its position of insertion). Throws
// EKvIFileFormatException for a file that is not a TopSpeed file. A page whose header,
// expansion or record framing does not hold together is passed over whole and
// reported to damage, as are damaged block-table entries (the parts of the file no
// intact entry covers are then searched for pages) and a file shorter than its header
// says. With a data sink, data records go to the sink and not into the records list.
// With Position, the end of each page read is stored there as the walk goes on (for a
// progress line read by another thread). The pages of the blocks are expanded and
// checked on a second thread a few pages ahead of the walk when readAhead says so (Auto:
// for a file big enough, on a machine with more than one core); what is read is the same.
enum class TTPSReadAheadMode { Auto, Off, On };
void TpsCollectRecords(const TTPSFileView& file, std::uint8_t (&header)[512], TTPSRecords& records,
                       TTPSRecords& memos, TTPSByteStore& store, TTPSDataSink* dataSink = nullptr,
                       TTPSDamage* damage = nullptr, std::atomic<std::uint64_t>* position = nullptr,
                       TTPSReadAheadMode readAhead = TTPSReadAheadMode::Auto);

// Expands a run-length encoded page body (the stored bytes) and appends the result
// to out. Reads only the given bytes.
void TpsExpandPage(std::span<const std::uint8_t> stored, std::vector<std::uint8_t>& out);

// Expands a page body that must expand to exactly expandedSize bytes into out
// (replacing its content); false when it does not, or holds a zero skip byte.
bool TpsExpandPageExactly(std::span<const std::uint8_t> stored, std::size_t expandedSize,
                          std::vector<std::uint8_t>& out);

// Whether count records fill an expanded page body exactly: the first one with both
// lengths, every shared prefix within the record before it.
bool TpsPageFramingOk(std::span<const std::uint8_t> body, std::uint32_t count);

// The records of an expanded page body as the load walks them: each record with data,
// whole (the part shared with the record before it included), in page order.
struct TTPSWalkedRecords {
  struct Item {
    std::uint32_t Index = 0;   // in the page
    std::uint32_t Start = 0;   // in Bytes
    std::uint32_t Length = 0;  // the record's length
    std::uint16_t Header = 0;  // its header length
    std::uint8_t Flags = 0;
  };
  std::vector<Item> Items;
  std::vector<std::uint8_t> Bytes;  // the records' data, one after another (and more)
};

// Walks up to count records of an expanded page body into walked (replacing what it
// held) as the load cuts them: a damaged length ends the walk; a first record without
// both lengths throws. True when the records fill the body exactly, as
// TpsPageFramingOk(body, count) tells.
bool TpsWalkRecords(std::span<const std::uint8_t> body, std::uint32_t count,
                    TTPSWalkedRecords& walked);

// Cuts up to count records from an expanded page body and adds them to the lists.
void TpsCutRecords(std::span<const std::uint8_t> body, std::uint32_t count, TTPSRecords& records,
                   TTPSRecords& memos, TTPSByteStore& store);

// The records of pages read again from the file, for rows decoded on demand: a page
// is expanded and cut once, and the last few pages asked for are kept. The file must
// stay unchanged and in place while the cache is used.
class TTPSPageCache {
 public:
  // With releaseBehind, file is a read-only file mapping and the bytes before the pages
  // read are given back to the system as reading moves on.
  explicit TTPSPageCache(const TTPSFileView& file, bool releaseBehind = false);
  // The whole data and header length of record indexInPage of the page at pageOffset;
  // false when the page has no such record. The data stays valid until the next call.
  bool Record(std::uint64_t pageOffset, std::uint32_t indexInPage,
              std::span<const std::uint8_t>& data, std::uint16_t& headerLength);

 private:
  static constexpr std::uint32_t kNoItem = 0xFFFFFFFFu;
  struct Item {
    std::uint32_t Start = kNoItem;
    std::uint32_t Length = 0;
    std::uint16_t Header = 0;
  };
  struct Page {
    std::uint64_t Offset = ~std::uint64_t(0);
    std::uint64_t LastUse = 0;
    std::vector<std::uint8_t> Bytes;  // the records' data, one after another (and more)
    std::vector<Item> Items;          // by index in the page
  };
  void Load(Page& page, std::uint64_t offset);

  TTPSFileView file_;
  bool releaseBehind_ = false;
  TTPSReleaseBehind released_;
  Page pages_[4];
  std::uint64_t clock_ = 0;
  std::vector<std::uint8_t> expanded_;
  std::vector<std::uint8_t> read_;  // a decrypted page
};
