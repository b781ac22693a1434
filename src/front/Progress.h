// Progress on standard error, for a folder run and for a run on one big file: one line
// rewritten in place on a terminal once the work takes longer than a second; elsewhere,
// when asked (/PROGRESS), plain lines, the first at once and then at most one a second;
// nothing otherwise. The converted data never goes there.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class TProgress {
 public:
  // Terminal: standard error is one (the line is rewritten in place); Asked: plain lines
  // when it is not.
  TProgress(bool terminal, bool asked);
  ~TProgress();
  TProgress(const TProgress&) = delete;
  TProgress& operator=(const TProgress&) = delete;

  // Seconds since the work began.
  double Elapsed() const;
  // Shows Line when it is time to; the Last line of the work is always shown (on a
  // terminal, when the work took longer than a second) and ends the line in place.
  void Show(const std::string& line, bool last);
  // Clears the line in place before other text goes to the console.
  void Clear();

 private:
  friend void ClearProgressLine();
  using TClock = std::chrono::steady_clock;
  void ClearLocked();  // with the console's lock held
  const bool terminal_, on_;
  bool open_ = false;
  std::size_t width_ = 0;
  const TClock::time_point start_ = TClock::now();
  TClock::time_point shown_{};
};

// Clears the progress line shown in place, if any (the console lines call it first).
void ClearProgressLine();

// The progress of a run on one file, shown every 250 ms by a thread of its own: how far
// the load has read the file ("Loading: X of Y MB"), then the rows of the table being
// written ("Writing NAME: R of N rows, S rows/s"). The reader and the row walk publish
// their counts through the two atomics; nothing else of them is touched.
class TFileProgress {
 public:
  TFileProgress(bool terminal, bool asked, std::uint64_t fileBytes);
  // Stops the thread; a line left in place is cleared.
  ~TFileProgress();
  TFileProgress(const TFileProgress&) = delete;
  TFileProgress& operator=(const TFileProgress&) = delete;

  // Bytes of the file the load has read.
  std::atomic<std::uint64_t>& LoadPosition() { return loaded_; }
  // Rows of the table being written that the walk has passed.
  std::atomic<std::int64_t>& RowsDone() { return rows_; }
  void BeginTable(const std::string& name, std::int64_t rows);
  // Stops the thread and shows the last line.
  void Finish();

 private:
  std::string Line();
  void Stop();

  TProgress shown_;
  const std::uint64_t fileBytes_;
  std::atomic<std::uint64_t> loaded_{0};
  std::atomic<std::int64_t> rows_{0};
  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool writing_ = false;
  std::string table_;
  std::int64_t tableRows_ = 0;
  std::int64_t rowsBefore_ = 0;  // rows of the tables written before this one
  double writingSince_ = 0;      // seconds
  std::thread thread_;
};
