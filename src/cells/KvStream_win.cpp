// File access through the Win32 calls. A file is opened with CreateFileA and wrapped
// in a C runtime descriptor (_open_osfhandle), so the stream keeps one int handle as
// on POSIX; _get_osfhandle gives the Win32 handle back for reading and mapping.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>

#include "cells/KvExceptions.h"
#include "cells/KvStream.h"

namespace {

HANDLE OsHandle(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// Largest single ReadFile/WriteFile request (the count is a DWORD).
constexpr std::size_t kMaxChunk = std::size_t(1) << 30;

}  // namespace

TFileStream::TFileStream(const std::string& path) {
  // Others may go on reading and writing the file while it is read.
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  LARGE_INTEGER size{};
  if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size)) {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    throw EFOpenError("Cannot open file " + path);
  }
  fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
  if (fd_ < 0) {
    CloseHandle(h);
    throw EFOpenError("Cannot open file " + path);
  }
  size_ = size.QuadPart;
}

TFileStream::~TFileStream() {
  if (map_) UnmapViewOfFile(map_);
  if (fd_ >= 0) _close(fd_);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  if (pos_ < 0 || pos_ >= size_) return 0;
  std::size_t total = 0;
  char* out = static_cast<char*>(buffer);
  while (total < count) {
    // Positioned read, like pread: the offset travels in the OVERLAPPED block.
    OVERLAPPED at{};
    at.Offset = DWORD(std::uint64_t(pos_) & 0xFFFFFFFFu);
    at.OffsetHigh = DWORD(std::uint64_t(pos_) >> 32);
    DWORD got = 0;
    const DWORD want = DWORD(std::min(count - total, kMaxChunk));
    if (!ReadFile(OsHandle(fd_), out + total, want, &got, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      throw EReadError("Stream read error");
    }
    if (got == 0) break;
    total += got;
    pos_ += got;
  }
  return total;
}

std::span<const std::uint8_t> TFileStream::View() {
  if (size_ == 0) return {};
  if (map_) return {static_cast<const std::uint8_t*>(map_), std::size_t(size_)};
  if (!fallback_.empty()) return fallback_;
  // The view keeps the mapping alive, so its handle can be closed at once.
  if (HANDLE mapping = CreateFileMappingA(OsHandle(fd_), nullptr, PAGE_READONLY, 0, 0, nullptr)) {
    void* m = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    CloseHandle(mapping);
    if (m) {
      map_ = m;
      return {static_cast<const std::uint8_t*>(map_), std::size_t(size_)};
    }
  }
  // Not mappable (too large for the address space, or a file system without
  // mapping): read it whole in large blocks.
  fallback_.resize(std::size_t(size_));
  std::int64_t saved = pos_;
  pos_ = 0;
  std::size_t got = Read(fallback_.data(), fallback_.size());
  fallback_.resize(got);
  pos_ = saved;
  return fallback_;
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

TBufferedFileWriter::TBufferedFileWriter(const std::string& path, std::size_t bufferSize)
    : path_(path) {
  // Created or truncated, and not shared with other processes while it is written.
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw EFCreateError("Cannot create file " + path);
  fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
  if (fd_ < 0) {
    CloseHandle(h);
    throw EFCreateError("Cannot create file " + path);
  }
  buffer_.reserve(bufferSize);
}

TBufferedFileWriter::TBufferedFileWriter(TStandardOutput, std::size_t bufferSize)
    : path_("standard output") {
  fd_ = _dup(1);
  if (fd_ < 0) throw EFCreateError("Cannot create file " + path_);
  _setmode(fd_, _O_BINARY);  // the lines already end in CR LF
  buffer_.reserve(bufferSize);
}

TBufferedFileWriter::~TBufferedFileWriter() {
  if (fd_ < 0) return;
  try {
    Flush();
  } catch (...) {
  }
  StopWorker();
  _close(fd_);
}

void TBufferedFileWriter::WriteAll(const char* data, std::size_t size) {
  while (size > 0) {
    DWORD written = 0;
    const DWORD want = DWORD(std::min(size, kMaxChunk));
    if (!WriteFile(OsHandle(fd_), data, want, &written, nullptr) || written == 0)
      throw EWriteError("Cannot write file " + path_);
    data += written;
    size -= written;
  }
}

void TBufferedFileWriter::Close() {
  if (fd_ < 0) return;
  try {
    Flush();
    StopWorker();
  } catch (...) {
    StopWorker();
    _close(fd_);
    fd_ = -1;
    throw;
  }
  const int rc = _close(fd_);
  fd_ = -1;
  if (rc != 0) throw EWriteError("Cannot write file " + path_);
}
