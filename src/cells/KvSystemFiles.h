// The system calls behind the file streams and the output file: one definition per
// platform (KvSystemFiles_posix.cpp, KvSystemFiles_win.cpp). A file is known by an int
// descriptor; everything built on these calls is shared (KvStream.cpp, KvFileWriter.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Opens an existing regular file for reading, others allowed to read and write it;
// -1 when it cannot be opened. Size receives its size.
int SysOpenForReading(const std::string& path, std::int64_t& size);
// Creates or truncates a file for writing; -1 when it cannot.
int SysCreateForWriting(const std::string& path);
// A descriptor of its own for the process's standard output, written in binary (the
// lines already hold their record ends); -1 when there is none.
int SysDuplicateStandardOutput();
// Reads up to Count bytes at Offset: the number read, 0 at the end, -1 on a failure.
std::int64_t SysReadAt(int fd, void* buffer, std::size_t count, std::int64_t offset);
// Writes up to Count bytes: the number written, 0 or less on a failure.
std::int64_t SysWrite(int fd, const char* data, std::size_t count);
// False when closing failed (a write the system had held back may have failed).
bool SysClose(int fd);
// Maps the whole file read-only for reading front to back; null when it cannot be mapped.
void* SysMapForReading(int fd, std::int64_t size);
void SysUnmap(void* map, std::int64_t size);
// Gives back the pages of a read-only file mapping that lie wholly inside [Start,
// Start + Length): they are read from the file again when touched. Nothing where the
// platform has no such call.
void SysReleaseMappedRange(const void* start, std::size_t length);
// True when Path names an existing regular file (not a directory or a device).
bool SysIsRegularFile(const std::string& path);
