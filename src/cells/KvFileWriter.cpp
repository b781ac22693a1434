// The buffered output file. The system calls (create, write, close) are in the platform
// units KvSystemFiles_posix.cpp and KvSystemFiles_win.cpp.
#include "cells/KvFileWriter.h"

#include <algorithm>

#include "cells/KvExceptions.h"
#include "cells/KvSystemFiles.h"

TBufferedFileWriter::TBufferedFileWriter(const std::string& path, std::size_t bufferSize)
    : path_(path), bufferSize_(bufferSize) {
  fd_ = SysCreateForWriting(path);
  if (fd_ < 0) throw EFCreateError("Cannot create file " + path);
  buffer_.reserve(bufferSize);
}

TBufferedFileWriter::TBufferedFileWriter(TStandardOutput, std::size_t bufferSize)
    : path_("standard output"), bufferSize_(bufferSize) {
  fd_ = SysDuplicateStandardOutput();
  if (fd_ < 0) throw EFCreateError("Cannot create file " + path_);
  buffer_.reserve(bufferSize);
}

TBufferedFileWriter::~TBufferedFileWriter() {
  if (fd_ < 0) return;
  try {
    Flush();
  } catch (...) {
  }
  StopWorker();
  SysClose(fd_);
}

namespace {

// The most bytes one system call writes. On a virtual machine that hands freed memory
// back to its host, writing a new file 1 MiB at a time took more than twice as long as
// 128 KiB at a time (the system takes memory for the new bytes, and takes it in larger
// blocks for larger writes); on memory in use the size made no measurable difference
// (BENCHMARKS.md).
constexpr std::size_t kMaxWrite = std::size_t(128) << 10;

}  // namespace

void TBufferedFileWriter::WriteAll(const char* data, std::size_t size) {
  while (size > 0) {
    const std::int64_t n = SysWrite(fd_, data, std::min(size, kMaxWrite));
    if (n <= 0) throw EWriteError("Cannot write file " + path_);
    data += n;
    size -= std::size_t(n);
  }
}

void TBufferedFileWriter::Close() {
  if (fd_ < 0) return;
  try {
    Flush();
    StopWorker();
  } catch (...) {
    StopWorker();
    SysClose(fd_);
    fd_ = -1;
    throw;
  }
  const bool closed = SysClose(fd_);
  fd_ = -1;
  if (!closed) throw EWriteError("Cannot write file " + path_);
}

void TBufferedFileWriter::WriteSlow(std::string_view bytes) {
  if (fd_ < 0) return;
  if (bytes.size() >= buffer_.capacity()) {
    Flush();
    try {
      WriteAll(bytes.data(), bytes.size());
    } catch (...) {
      failed_ = true;
      throw;
    }
    return;
  }
  if (!buffer_.empty()) HandOver();
  buffer_.append(bytes);
}

void TBufferedFileWriter::WriteTakingOver(std::string& bytes) {
  if (fd_ < 0 || bytes.size() < bufferSize_) {
    Write(bytes);
    bytes.clear();
    return;
  }
  if (!buffer_.empty()) HandOver();  // the bytes before them go first
  WaitIdle();
  if (!StartWorker()) {
    WriteSlow(bytes);
    bytes.clear();
    return;
  }
  SwapInFlight(bytes);
  bytes.clear();
}

bool TBufferedFileWriter::StartWorker() {
  if (!worker_.joinable() && !noWorker_) {
    try {
      inFlight_.reserve(bufferSize_);
      worker_ = std::thread([this] { WorkerLoop(); });
    } catch (...) {
      noWorker_ = true;  // no thread (or memory) for it: the buffers are written here
    }
  }
  return !noWorker_;
}

void TBufferedFileWriter::SwapInFlight(std::string& bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    inFlight_.swap(bytes);
    busy_ = true;
  }
  changed_.notify_all();
}

void TBufferedFileWriter::HandOver() {
  WaitIdle();
  if (!StartWorker()) {
    Flush();
    return;
  }
  SwapInFlight(buffer_);
}

void TBufferedFileWriter::WaitIdle() {
  if (failed_) throw EWriteError("Cannot write file " + path_);
  if (!worker_.joinable()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !busy_; });
  if (error_) {
    failed_ = true;
    std::exception_ptr e = error_;
    error_ = nullptr;
    std::rethrow_exception(e);
  }
}

void TBufferedFileWriter::WorkerLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return busy_ || stop_; });
    if (!busy_) return;
    lock.unlock();
    std::exception_ptr failure;
    try {
      WriteAll(inFlight_.data(), inFlight_.size());
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    inFlight_.clear();
    error_ = failure;
    busy_ = false;
    changed_.notify_all();
  }
}

void TBufferedFileWriter::StopWorker() noexcept {
  if (!worker_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  worker_.join();  // the worker finishes the buffer in hand first
}

void TBufferedFileWriter::Flush() {
  if (fd_ < 0) return;
  WaitIdle();
  if (buffer_.empty()) return;
  std::string pending;
  pending.swap(buffer_);
  buffer_.reserve(pending.capacity());
  try {
    WriteAll(pending.data(), pending.size());
  } catch (...) {
    failed_ = true;
    throw;
  }
}
