// File access through the POSIX calls: open, pread, mmap, write.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "cells/KvExceptions.h"
#include "cells/KvStream.h"

TFileStream::TFileStream(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd_ < 0 || fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    throw EFOpenError("Cannot open file " + path);
  }
  size_ = st.st_size;
}

TFileStream::~TFileStream() {
  if (map_) munmap(map_, std::size_t(size_));
  if (fd_ >= 0) ::close(fd_);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  if (pos_ < 0 || pos_ >= size_) return 0;
  std::size_t total = 0;
  char* out = static_cast<char*>(buffer);
  while (total < count) {
    ssize_t got = ::pread(fd_, out + total, count - total, off_t(pos_));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw EReadError("Stream read error");
    if (got == 0) break;
    total += std::size_t(got);
    pos_ += got;
  }
  return total;
}

std::span<const std::uint8_t> TFileStream::View() {
  if (size_ == 0) return {};
  if (map_) return {static_cast<const std::uint8_t*>(map_), std::size_t(size_)};
  if (!fallback_.empty()) return fallback_;
  void* m = mmap(nullptr, std::size_t(size_), PROT_READ, MAP_PRIVATE, fd_, 0);
  if (m != MAP_FAILED) {
    madvise(m, std::size_t(size_), MADV_SEQUENTIAL);
    map_ = m;
    return {static_cast<const std::uint8_t*>(map_), std::size_t(size_)};
  }
  // Not mappable (a pipe-like file): read it whole in large blocks.
  fallback_.resize(std::size_t(size_));
  std::int64_t saved = pos_;
  pos_ = 0;
  std::size_t got = Read(fallback_.data(), fallback_.size());
  fallback_.resize(got);
  pos_ = saved;
  return fallback_;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

TBufferedFileWriter::TBufferedFileWriter(const std::string& path, std::size_t bufferSize)
    : path_(path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) throw EFCreateError("Cannot create file " + path);
  buffer_.reserve(bufferSize);
}

TBufferedFileWriter::TBufferedFileWriter(TStandardOutput, std::size_t bufferSize)
    : path_("standard output") {
  fd_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
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
  ::close(fd_);
}

void TBufferedFileWriter::WriteAll(const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
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
    ::close(fd_);
    fd_ = -1;
    throw;
  }
  int rc = ::close(fd_);
  fd_ = -1;
  if (rc != 0) throw EWriteError("Cannot write file " + path_);
}
