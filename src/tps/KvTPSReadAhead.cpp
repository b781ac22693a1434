#include "tps/KvTPSReadAhead.h"

#include <utility>

namespace {

// Below this size a load takes a few milliseconds: starting a thread does not pay.
constexpr std::uint64_t kReadAheadMinFileSize = std::uint64_t(8) << 20;
// The walked records a prepared page may keep. A real page's records take about its
// expanded size (at most 64 KiB) and a few shared bytes each; a damaged or hostile one
// whose records share 63 bytes each takes up to 4 MiB, which every slot would keep.
constexpr std::size_t kMaxWalkedBytes = std::size_t(256) << 10;

}  // namespace

void TpsPreparePage(const TTPSFileView& file, std::uint64_t pos, const TTPSPageHeader& h,
                    TTPSPreparedPage& page, bool walk) {
  page.Pos = pos;
  page.Header = h;
  page.Ok = false;
  page.Walked = false;
  const std::span<const std::uint8_t> stored =
      file.Read(pos + kTpsPageHeaderSize, h.PageSize - kTpsPageHeaderSize, page.Read);
  page.Body = stored;
  if (!h.Plain()) {
    if (h.ExpandedSize < kTpsPageHeaderSize ||
        !TpsExpandPageExactly(stored, h.ExpandedSize - kTpsPageHeaderSize, page.Expanded))
      return;
    page.Body = page.Expanded;
  }
  const std::span<const std::uint8_t> body = page.Body;
  // The walk checks the framing as it goes, once its first record has both lengths
  // (which the walk would not pass over quietly).
  if (walk && h.RecordCount > 0 && body.size() >= 5 && (body[0] & 0xC0) == 0xC0)
    page.Ok = page.Walked = TpsWalkRecords(body, h.RecordCount, page.Records);
  else
    page.Ok = TpsPageFramingOk(body, h.RecordCount);
  // Far more than a real page: given back, and the load walks the page itself.
  TTPSWalkedRecords& walked = page.Records;
  if (walked.Bytes.size() + walked.Items.capacity() * sizeof(walked.Items[0]) > kMaxWalkedBytes) {
    page.Walked = false;
    walked = TTPSWalkedRecords{};
  }
}

bool TTPSReadAhead::Pays(std::uint64_t fileSize) {
  return fileSize >= kReadAheadMinFileSize && std::thread::hardware_concurrency() > 1;
}

TTPSReadAhead::TTPSReadAhead(const TTPSFileView& file, std::vector<TTPSBlockEntry> blocks)
    : file_(file), blocks_(std::move(blocks)), slots_(kSlots) {
  thread_ = std::thread([this] { Run(); });
}

TTPSReadAhead::~TTPSReadAhead() {
  stop_ = true;
  WakeWorker();
  thread_.join();
}

// The flag and the counters are sequentially consistent: the thread that sets the flag
// and then finds no free slot, and the load that frees one and then reads the flag,
// cannot both miss each other. Taking the lock before the wake makes sure the thread
// is waiting by then.
void TTPSReadAhead::WakeWorker() {
  if (!workerWaits_) return;
  { std::lock_guard<std::mutex> lock(mutex_); }
  changed_.notify_all();
}

const TTPSPreparedPage* TTPSReadAhead::Take(std::uint64_t pos) {
  asked_.store(pos, std::memory_order_relaxed);
  std::uint64_t consumed = consumed_.load(std::memory_order_relaxed);
  if (holding_) {
    holding_ = false;
    ++consumed;
  }
  const TTPSPreparedPage* page = nullptr;
  std::uint64_t produced = produced_.load();
  // Pages before pos are not asked for any more.
  while (consumed < produced && slots_[consumed % kSlots].Pos < pos) ++consumed;
  if (consumed < produced && slots_[consumed % kSlots].Pos == pos) {
    holding_ = true;
    page = &slots_[consumed % kSlots];
  }
  consumed_ = consumed;
  if (produced - consumed <= kSlots - kWakeFree) WakeWorker();
  if (!page && consumed == produced && done_ && error_)
    std::rethrow_exception(std::exchange(error_, nullptr));
  return page;
}

void TTPSReadAhead::Run() {
  try {
    Work();
  } catch (...) {
    error_ = std::current_exception();
  }
  done_ = true;
}

void TTPSReadAhead::Work() {
  const std::uint64_t size = file_.Size();
  std::vector<std::uint8_t> read;
  std::uint64_t produced = 0;
  for (const TTPSBlockEntry& e : blocks_) {
    std::uint64_t pos = e.Start;
    while (pos < e.End && pos < size && size - pos >= kTpsPageHeaderSize) {
      if (stop_.load(std::memory_order_relaxed)) return;
      const TTPSPageHeader h = TpsPageHeader(file_.Read(pos, kTpsPageHeaderSize, read).data());
      bool whole = TpsPageInPlace(h, pos) && size - pos >= h.PageSize;
      // Left behind: the load reads the page it asked for itself; on from the one after
      // it, as if it could be read (when not, the positions differ and the load reads
      // every page itself until they meet again).
      const std::uint64_t asked = asked_.load(std::memory_order_relaxed);
      if (asked >= pos) {
        if (asked >= e.End) break;
        if (asked > pos) {
          pos = asked;
          continue;
        }
        pos = TpsNextPageBoundary(pos + (whole ? h.PageSize : kTpsPageHeaderSize));
        continue;
      }
      if (whole && h.Level == 0 && h.RecordCount != 0) {
        if (produced - consumed_.load() >= kSlots) {
          std::unique_lock<std::mutex> lock(mutex_);
          workerWaits_ = true;
          while (produced - consumed_.load() > kSlots - kWakeFree && !stop_) changed_.wait(lock);
          workerWaits_ = false;
          if (stop_) return;
        }
        // The slot is the thread's until it is published: the load never looks at it.
        TTPSPreparedPage& page = slots_[produced % kSlots];
        TpsPreparePage(file_, pos, h, page, true);
        whole = page.Ok;
        produced_ = ++produced;
      }
      pos = TpsNextPageBoundary(pos + (whole ? h.PageSize : kTpsPageHeaderSize));
    }
  }
}
