// Pages of a load prepared on a second thread: while the load cuts the records of one
// page, the pages after it are read, decrypted, expanded and checked.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "tps/KvTPSBytes.h"
#include "tps/KvTPSContainer.h"

// A page as the load reads it: its body expanded and its record framing checked, and
// its records walked when asked for.
struct TTPSPreparedPage {
  std::uint64_t Pos = 0;
  TTPSPageHeader Header;
  bool Ok = false;      // the body expands to its stated size and its records fill it
  bool Walked = false;  // Records holds the records of the page (an Ok one)
  std::span<const std::uint8_t> Body;
  TTPSWalkedRecords Records;
  std::vector<std::uint8_t> Read;      // the stored bytes as decrypted
  std::vector<std::uint8_t> Expanded;  // the body expanded
};

// Prepares the page of records at pos (with header h, wholly inside the file) as the
// load reads it; with walk, an Ok page's records are walked too.
void TpsPreparePage(const TTPSFileView& file, std::uint64_t pos, const TTPSPageHeader& h,
                    TTPSPreparedPage& page, bool walk = false);

// A second thread that walks the given block entries as the load does (a page read
// whole is followed by the next page boundary after it, anything else by the boundary
// after its header) and prepares the pages of records it meets, their records walked,
// a few pages ahead. The load asks for each page in the same order and does the work
// itself for a page that is not ready, so what it reads never depends on the thread,
// and it never waits for it (the machine's other core may be busy elsewhere). A thread
// left behind goes on from the page the load asked for last.
class TTPSReadAhead {
 public:
  // Whether a load of a file of this size is worth a second thread on this machine.
  static bool Pays(std::uint64_t fileSize);

  TTPSReadAhead(const TTPSFileView& file, std::vector<TTPSBlockEntry> blocks);
  // Stops the thread and waits for it.
  ~TTPSReadAhead();
  TTPSReadAhead(const TTPSReadAhead&) = delete;
  TTPSReadAhead& operator=(const TTPSReadAhead&) = delete;

  // The page prepared at pos, valid until the next call; nullptr when it is not ready
  // (pages asked for must come in increasing order). An exception of the thread is
  // thrown here.
  const TTPSPreparedPage* Take(std::uint64_t pos);

 private:
  // Pages prepared ahead at most: enough to cover the uneven cost of pages, few enough
  // to keep the mapped bytes read ahead and the buffers small.
  static constexpr std::uint64_t kSlots = 64;
  // A thread waiting for free slots is woken when this many are free: early enough that
  // it is running again before the load catches up, rarely enough that wake-ups cost
  // little.
  static constexpr std::uint64_t kWakeFree = 16;
  void Run();
  void Work();
  void WakeWorker();

  TTPSFileView file_;
  std::vector<TTPSBlockEntry> blocks_;
  // A ring of slots filled by the thread and read by the load, in order. produced_ and
  // consumed_ only grow; the slots between them are the load's (the first one while it
  // holds it), the others the thread's.
  std::vector<TTPSPreparedPage> slots_;
  std::atomic<std::uint64_t> produced_{0};
  std::atomic<std::uint64_t> consumed_{0};
  std::atomic<std::uint64_t> asked_{0};  // the page the load asked for last
  bool holding_ = false;                 // the load holds slot consumed_ (load only)
  std::atomic<bool> done_{false};        // the thread has finished (error_ is set before)
  std::atomic<bool> stop_{false};
  std::atomic<bool> workerWaits_{false};  // the thread waits for free slots
  std::exception_ptr error_;
  std::mutex mutex_;  // for the thread's waits only
  std::condition_variable changed_;
  std::thread thread_;
};
