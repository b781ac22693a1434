// Byte streams for readers. (The output file of the writer is in KvFileWriter.h.)
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// A readable, seekable byte source. View() gives the whole content at once when the
// stream can do so cheaply (memory, or a mapped file); readers walk that in memory.
class TStream {
 public:
  virtual ~TStream();
  virtual std::int64_t Size() const = 0;
  virtual std::int64_t Position() const = 0;
  virtual void Seek(std::int64_t position) = 0;
  // Reads up to count bytes; returns the number read.
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  // Reads exactly count bytes or fails with EReadError "Stream read error".
  void ReadBuffer(void* buffer, std::size_t count);
  virtual std::span<const std::uint8_t> View() { return {}; }
  // Whether the bytes View() gave are a read-only mapping of a file, whose pages the
  // system can read again after they are given back.
  virtual bool ViewIsFileMapping() const { return false; }
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<std::uint8_t> data) : data_(std::move(data)) {}
  std::int64_t Size() const override { return std::int64_t(data_.size()); }
  std::int64_t Position() const override { return pos_; }
  void Seek(std::int64_t position) override { pos_ = position; }
  std::size_t Read(void* buffer, std::size_t count) override;
  std::span<const std::uint8_t> View() override { return data_; }
  std::vector<std::uint8_t>& Data() { return data_; }

 private:
  std::vector<std::uint8_t> data_;
  std::int64_t pos_ = 0;
};

// A file opened read-only, others allowed to read and write it. "Cannot open file %s"
// (EFOpenError) when it cannot be opened. View() maps the file.
class TFileStream : public TStream {
 public:
  explicit TFileStream(const std::string& path);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  std::int64_t Size() const override { return size_; }
  std::int64_t Position() const override { return pos_; }
  void Seek(std::int64_t position) override { pos_ = position; }
  std::size_t Read(void* buffer, std::size_t count) override;
  std::span<const std::uint8_t> View() override;
  bool ViewIsFileMapping() const override { return map_ != nullptr; }

 private:
  int fd_ = -1;
  std::int64_t size_ = 0;
  std::int64_t pos_ = 0;
  void* map_ = nullptr;
  std::vector<std::uint8_t> fallback_;  // when mapping is not possible
};

// True when path names an existing regular file (a directory does not count).
bool FileExists(const std::string& path);
