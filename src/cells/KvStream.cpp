// Streams. The system calls (open, read, map) are in the platform units
// KvSystemFiles_posix.cpp and KvSystemFiles_win.cpp.
#include "cells/KvStream.h"

#include <algorithm>
#include <cstring>

#include "cells/KvExceptions.h"
#include "cells/KvSystemFiles.h"

TStream::~TStream() = default;

void TStream::ReadBuffer(void* buffer, std::size_t count) {
  if (Read(buffer, count) != count) throw EReadError("Stream read error");
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
  if (pos_ < 0 || pos_ >= std::int64_t(data_.size())) return 0;
  std::size_t n = std::min<std::size_t>(count, data_.size() - std::size_t(pos_));
  std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += std::int64_t(n);
  return n;
}

TFileStream::TFileStream(const std::string& path) {
  fd_ = SysOpenForReading(path, size_);
  if (fd_ < 0) throw EFOpenError("Cannot open file " + path);
}

TFileStream::~TFileStream() {
  if (map_) SysUnmap(map_, size_);
  if (fd_ >= 0) SysClose(fd_);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  if (pos_ < 0 || pos_ >= size_) return 0;
  std::size_t total = 0;
  char* out = static_cast<char*>(buffer);
  while (total < count) {
    const std::int64_t got = SysReadAt(fd_, out + total, count - total, pos_);
    if (got < 0) throw EReadError("Stream read error");
    if (got == 0) break;
    total += std::size_t(got);
    pos_ += got;
  }
  return total;
}

std::span<const std::uint8_t> TFileStream::View() {
  if (size_ == 0) return {};
  if (!map_ && fallback_.empty()) map_ = SysMapForReading(fd_, size_);
  if (map_) return {static_cast<const std::uint8_t*>(map_), std::size_t(size_)};
  if (!fallback_.empty()) return fallback_;
  // Not mappable (a pipe-like file, too large for the address space, a file system
  // without mapping): read it whole in large blocks.
  fallback_.resize(std::size_t(size_));
  std::int64_t saved = pos_;
  pos_ = 0;
  std::size_t got = Read(fallback_.data(), fallback_.size());
  fallback_.resize(got);
  pos_ = saved;
  return fallback_;
}

bool FileExists(const std::string& path) { return !path.empty() && SysIsRegularFile(path); }
