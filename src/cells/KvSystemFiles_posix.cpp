// File access through the POSIX calls: open, pread, mmap, write.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "cells/KvSystemFiles.h"

int SysOpenForReading(const std::string& path, std::int64_t& size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  size = st.st_size;
  return fd;
}

int SysCreateForWriting(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

int SysDuplicateStandardOutput() { return ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0); }

std::int64_t SysReadAt(int fd, void* buffer, std::size_t count, std::int64_t offset) {
  for (;;) {
    const ssize_t got = ::pread(fd, buffer, count, off_t(offset));
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

std::int64_t SysWrite(int fd, const char* data, std::size_t count) {
  for (;;) {
    const ssize_t n = ::write(fd, data, count);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

bool SysClose(int fd) { return ::close(fd) == 0; }

void* SysMapForReading(int fd, std::int64_t size) {
  void* m = mmap(nullptr, std::size_t(size), PROT_READ, MAP_PRIVATE, fd, 0);
  if (m == MAP_FAILED) return nullptr;
  madvise(m, std::size_t(size), MADV_SEQUENTIAL);
  return m;
}

void SysUnmap(void* map, std::int64_t size) { munmap(map, std::size_t(size)); }

bool SysIsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void SysReleaseMappedRange(const void* start, std::size_t length) {
#if defined(MADV_DONTNEED)
  static const std::uintptr_t page = std::uintptr_t(sysconf(_SC_PAGESIZE));
  const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(start);
  const std::uintptr_t from = (base + page - 1) / page * page;
  const std::uintptr_t to = (base + length) / page * page;
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
#else
  (void)start, (void)length;
#endif
}
