// Pages of a load prepared on a second thread: while the load cuts the records of one
// page, the pages after it are read, decrypted, expanded and checked.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "tps/KvTPSBytes.h"
#include "tps/KvTPSContainer.h"

// A page as the load reads it: its body expanded and its record framing checked.
struct TTPSPreparedPage {
  std::uint64_t Pos = 0;
  TTPSPageHeader Header;
  bool Ok = false;  // the body expands to its stated size and its records fill it
  std::span<const std::uint8_t> Body;
  std::vector<std::uint8_t> Read;      // the stored bytes as decrypted
  std::vector<std::uint8_t> Expanded;  // the body expanded
};

// Prepares the page of records at pos (with header h, wholly inside the file) as the
// load reads it.
void TpsPreparePage(const TTPSFileView& file, std::uint64_t pos, const TTPSPageHeader& h,
                    TTPSPreparedPage& page);

// A second thread that walks the given block entries as the load does (a page read
// whole is followed by the next page boundary after it, anything else by the boundary
// after its header) and prepares the pages of records it meets, a few pages ahead. The
// load asks for each page in the same order and does the work itself for a page that
// was not prepared, so what it reads never depends on the thread.
class TTPSReadAhead {
 public:
  // Whether a load of a file of this size is worth a second thread on this machine.
  static bool Pays(std::uint64_t fileSize);

  TTPSReadAhead(const TTPSFileView& file, std::vector<TTPSBlockEntry> blocks);
  // Stops the thread and waits for it.
  ~TTPSReadAhead();
  TTPSReadAhead(const TTPSReadAhead&) = delete;
  TTPSReadAhead& operator=(const TTPSReadAhead&) = delete;

  // The page prepared at pos, valid until the next call; nullptr when none was (pages
  // asked for must come in increasing order). An exception of the thread is thrown here.
  const TTPSPreparedPage* Take(std::uint64_t pos);

 private:
  // Pages prepared ahead at most: enough to cover the uneven cost of pages, few enough
  // to keep the mapped bytes read ahead and the buffers small.
  static constexpr std::uint64_t kSlots = 32;
  // A load waiting for pages is woken when this many are ready (or the thread ends):
  // one wake-up per page would cost more than a small page's expansion.
  static constexpr std::uint64_t kWakeBatch = 8;
  void Run();
  void Work();

  TTPSFileView file_;
  std::vector<TTPSBlockEntry> blocks_;
  std::vector<TTPSPreparedPage> slots_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t produced_ = 0;  // slots filled so far
  std::uint64_t consumed_ = 0;  // slots given back by the load (the one taken excluded)
  bool holding_ = false;        // the load holds slot consumed_ % kSlots
  bool done_ = false;           // the thread has finished
  bool stop_ = false;
  bool loadWaits_ = false, workerWaits_ = false;
  std::exception_ptr error_;
  std::thread thread_;
};
