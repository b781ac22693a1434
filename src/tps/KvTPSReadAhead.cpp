#include "tps/KvTPSReadAhead.h"

#include <utility>

namespace {

// Below this size a load takes a few milliseconds: starting a thread does not pay.
constexpr std::uint64_t kReadAheadMinFileSize = std::uint64_t(8) << 20;

}  // namespace

void TpsPreparePage(const TTPSFileView& file, std::uint64_t pos, const TTPSPageHeader& h,
                    TTPSPreparedPage& page) {
  page.Pos = pos;
  page.Header = h;
  page.Ok = false;
  const std::span<const std::uint8_t> stored =
      file.Read(pos + kTpsPageHeaderSize, h.PageSize - kTpsPageHeaderSize, page.Read);
  page.Body = stored;
  if (!h.Plain()) {
    if (h.ExpandedSize < kTpsPageHeaderSize ||
        !TpsExpandPageExactly(stored, h.ExpandedSize - kTpsPageHeaderSize, page.Expanded))
      return;
    page.Body = page.Expanded;
  }
  page.Ok = TpsPageFramingOk(page.Body, h.RecordCount);
}

bool TTPSReadAhead::Pays(std::uint64_t fileSize) {
  return fileSize >= kReadAheadMinFileSize && std::thread::hardware_concurrency() > 1;
}

TTPSReadAhead::TTPSReadAhead(const TTPSFileView& file, std::vector<TTPSBlockEntry> blocks)
    : file_(file), blocks_(std::move(blocks)), slots_(kSlots) {
  thread_ = std::thread([this] { Run(); });
}

TTPSReadAhead::~TTPSReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

const TTPSPreparedPage* TTPSReadAhead::Take(std::uint64_t pos) {
  std::unique_lock<std::mutex> lock(mutex_);
  bool freed = false;
  if (holding_) {
    holding_ = false;
    ++consumed_;
    freed = true;
  }
  const TTPSPreparedPage* page = nullptr;
  for (;;) {
    // Pages before pos are not asked for any more.
    while (consumed_ < produced_ && slots_[consumed_ % kSlots].Pos < pos) {
      ++consumed_;
      freed = true;
    }
    if (consumed_ < produced_) {
      const TTPSPreparedPage& next = slots_[consumed_ % kSlots];
      if (next.Pos == pos) {
        holding_ = true;
        page = &next;
      }
      break;
    }
    if (done_) {
      if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
      break;
    }
    if (freed && workerWaits_) changed_.notify_all();
    freed = false;
    loadWaits_ = true;
    changed_.wait(lock);
    loadWaits_ = false;
  }
  // The thread is woken when half the slots are free again, not for each one.
  if (freed && workerWaits_ && produced_ - consumed_ <= kSlots / 2) changed_.notify_all();
  return page;
}

void TTPSReadAhead::Run() {
  std::exception_ptr failure;
  try {
    Work();
  } catch (...) {
    failure = std::current_exception();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    error_ = failure;
    done_ = true;
  }
  changed_.notify_all();
}

void TTPSReadAhead::Work() {
  const std::uint64_t size = file_.Size();
  std::vector<std::uint8_t> read;
  for (const TTPSBlockEntry& e : blocks_) {
    std::uint64_t pos = e.Start;
    while (pos < e.End && pos < size && size - pos >= kTpsPageHeaderSize) {
      const TTPSPageHeader h = TpsPageHeader(file_.Read(pos, kTpsPageHeaderSize, read).data());
      bool whole = TpsPageInPlace(h, pos) && size - pos >= h.PageSize;
      if (whole && h.Level == 0 && h.RecordCount != 0) {
        {
          std::unique_lock<std::mutex> lock(mutex_);
          while (!stop_ && produced_ - consumed_ >= kSlots) {
            workerWaits_ = true;
            changed_.wait(lock);
            workerWaits_ = false;
          }
          if (stop_) return;
        }
        // The slot is the thread's until it is published: the load never looks at it.
        TTPSPreparedPage& page = slots_[produced_ % kSlots];
        TpsPreparePage(file_, pos, h, page);
        whole = page.Ok;
        bool wake;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          ++produced_;
          wake = loadWaits_ && produced_ - consumed_ >= kWakeBatch;
        }
        if (wake) changed_.notify_all();
      }
      pos = TpsNextPageBoundary(pos + (whole ? h.PageSize : kTpsPageHeaderSize));
    }
  }
}
