#include "front/Progress.h"

#include <cstdio>

namespace {

// Shows and clears of every progress line, and the one left open in place.
std::mutex consoleLock;
TProgress* openLine = nullptr;

void WriteRaw(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

TProgress::TProgress(bool terminal, bool asked) : terminal_(terminal), on_(terminal || asked) {}

TProgress::~TProgress() {
  std::lock_guard<std::mutex> guard(consoleLock);
  if (openLine == this) openLine = nullptr;
}

double TProgress::Elapsed() const {
  return std::chrono::duration<double>(TClock::now() - start_).count();
}

void TProgress::Show(const std::string& text, bool last) {
  if (!on_) return;
  std::lock_guard<std::mutex> guard(consoleLock);
  const auto now = TClock::now();
  if (terminal_) {
    // Only work that takes longer than a second shows progress.
    if (now - start_ < std::chrono::seconds(1) ||
        (!last && now - shown_ < std::chrono::milliseconds(250)))
      return;
    std::string line = "\r" + text;
    if (line.size() < width_) line.append(width_ - line.size(), ' ');
    width_ = line.size();
    if (last) line += "\n";
    WriteRaw(line);
    open_ = !last;
    openLine = open_ ? this : nullptr;
  } else {
    if (!last && shown_ != TClock::time_point{} && now - shown_ < std::chrono::seconds(1)) return;
    WriteRaw(text + "\r\n");
  }
  shown_ = now;
}

void TProgress::Clear() {
  std::lock_guard<std::mutex> guard(consoleLock);
  ClearLocked();
}

void TProgress::ClearLocked() {
  if (!open_) return;
  WriteRaw("\r" + std::string(width_ > 0 ? width_ - 1 : 0, ' ') + "\r");
  open_ = false;
  openLine = nullptr;
  shown_ = TClock::time_point{};  // shown again on the next update
}

void ClearProgressLine() {
  std::lock_guard<std::mutex> guard(consoleLock);
  if (openLine != nullptr) openLine->ClearLocked();
}

TFileProgress::TFileProgress(bool terminal, bool asked, std::uint64_t fileBytes)
    : shown_(terminal, asked), fileBytes_(fileBytes) {
  if (!terminal && !asked) return;
  shown_.Show(Line(), false);  // the first plain line at once
  thread_ = std::thread([this] {
    std::unique_lock<std::mutex> guard(lock_);
    while (!wake_.wait_for(guard, std::chrono::milliseconds(250), [this] { return stopping_; }))
      shown_.Show(Line(), false);
  });
}

TFileProgress::~TFileProgress() {
  Stop();
  shown_.Clear();
}

void TFileProgress::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void TFileProgress::BeginTable(const std::string& name, std::int64_t rows) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!writing_) writingSince_ = shown_.Elapsed();
  writing_ = true;
  rowsBefore_ += rows_.exchange(0);
  table_ = name;
  tableRows_ = rows;
}

void TFileProgress::Finish() {
  if (!thread_.joinable()) return;
  Stop();
  std::lock_guard<std::mutex> guard(lock_);
  shown_.Show(Line(), true);
}

std::string TFileProgress::Line() {
  char text[160];
  if (!writing_) {
    const double mb = 1024.0 * 1024.0;
    std::snprintf(text, sizeof text, "Loading: %.1f of %.1f MB", double(loaded_.load()) / mb,
                  double(fileBytes_) / mb);
    return text;
  }
  const std::int64_t rows = rows_.load();
  const double seconds = shown_.Elapsed() - writingSince_;
  std::snprintf(text, sizeof text, ": %lld of %lld rows, %.0f rows/s", static_cast<long long>(rows),
                static_cast<long long>(tableRows_),
                seconds > 0 ? double(rowsBefore_ + rows) / seconds : 0.0);
  return "Writing " + table_ + text;
}
