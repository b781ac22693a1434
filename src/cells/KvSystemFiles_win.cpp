// File access through the Win32 calls. A file is opened with CreateFileA and wrapped
// in a C runtime descriptor (_open_osfhandle), so a file keeps one int handle as on
// POSIX; _get_osfhandle gives the Win32 handle back for reading, writing and mapping.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>

#include "cells/KvSystemFiles.h"

namespace {

HANDLE OsHandle(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// Largest single ReadFile/WriteFile request (the count is a DWORD).
constexpr std::size_t kMaxChunk = std::size_t(1) << 30;

// The descriptor of an open handle; closes the handle and gives -1 when there is none.
int Descriptor(HANDLE h, int flags) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
  if (fd < 0) CloseHandle(h);
  return fd;
}

}  // namespace

int SysOpenForReading(const std::string& path, std::int64_t& size) {
  // Others may go on reading and writing the file while it is read.
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  LARGE_INTEGER bytes{};
  if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &bytes)) {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return -1;
  }
  const int fd = Descriptor(h, _O_RDONLY | _O_BINARY);
  if (fd >= 0) size = bytes.QuadPart;
  return fd;
}

int SysCreateForWriting(const std::string& path) {
  // Created or truncated, and not shared with other processes while it is written.
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  return Descriptor(h, _O_WRONLY | _O_BINARY);
}

int SysDuplicateStandardOutput() {
  const int fd = _dup(1);
  if (fd >= 0) _setmode(fd, _O_BINARY);
  return fd;
}

std::int64_t SysReadAt(int fd, void* buffer, std::size_t count, std::int64_t offset) {
  // Positioned read, like pread: the offset travels in the OVERLAPPED block.
  OVERLAPPED at{};
  at.Offset = DWORD(std::uint64_t(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = DWORD(std::uint64_t(offset) >> 32);
  DWORD got = 0;
  if (!ReadFile(OsHandle(fd), buffer, DWORD(std::min(count, kMaxChunk)), &got, &at))
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  return got;
}

std::int64_t SysWrite(int fd, const char* data, std::size_t count) {
  DWORD written = 0;
  if (!WriteFile(OsHandle(fd), data, DWORD(std::min(count, kMaxChunk)), &written, nullptr))
    return -1;
  return written;
}

bool SysClose(int fd) { return _close(fd) == 0; }

void* SysMapForReading(int fd, std::int64_t /*size*/) {
  // The view keeps the mapping alive, so its handle can be closed at once.
  HANDLE mapping = CreateFileMappingA(OsHandle(fd), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!mapping) return nullptr;
  void* m = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  CloseHandle(mapping);
  return m;
}

void SysUnmap(void* map, std::int64_t /*size*/) { UnmapViewOfFile(map); }

bool SysIsRegularFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// A view of a file mapping has no call that drops its pages while keeping the view:
// Windows trims them itself under memory pressure.
void SysReleaseMappedRange(const void*, std::size_t) {}
