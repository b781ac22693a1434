// Streams and the output buffer. The file access itself (open, read, map, write)
// is in the platform units KvStream_posix.cpp and KvStream_win.cpp.
#include "cells/KvStream.h"

#include <algorithm>
#include <cstring>

#include "cells/KvExceptions.h"

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

void TBufferedFileWriter::WriteSlow(std::string_view bytes) {
  Flush();
  if (bytes.size() >= buffer_.capacity())
    WriteAll(bytes.data(), bytes.size());
  else
    buffer_.append(bytes);
}

void TBufferedFileWriter::Flush() {
  if (fd_ < 0 || buffer_.empty()) return;
  std::string pending;
  pending.swap(buffer_);
  buffer_.reserve(pending.capacity());
  WriteAll(pending.data(), pending.size());
}
