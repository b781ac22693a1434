// The byte layout of a TopSpeed file in one place: little- and big-endian loads, the
// header's block table, the 13-byte page header, and the step by which the bytes of a
// mapped file already read are given back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

inline std::uint16_t TpsLe16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }
inline std::uint32_t TpsLe32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
// Table, record and memo sequence numbers inside record data are big-endian.
inline std::uint32_t TpsBe32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
         std::uint32_t(p[3]);
}

constexpr std::size_t kTpsHeaderSize = 512;
constexpr std::size_t kTpsPageHeaderSize = 13;
constexpr std::size_t kTpsBlockCount = 60;

// Entry i of the header's block table as file offsets [Start, End): page addresses
// count 256-byte units after the header, widened to 64 bits. header holds 512 bytes.
struct TTPSBlockEntry {
  std::uint64_t Start = 0;
  std::uint64_t End = 0;
};
inline TTPSBlockEntry TpsBlockEntry(const std::uint8_t* header, std::size_t i) {
  return {std::uint64_t(TpsLe32(header + 32 + 4 * i)) * 256 + kTpsHeaderSize,
          std::uint64_t(TpsLe32(header + 272 + 4 * i)) * 256 + kTpsHeaderSize};
}

// The file's length as its header states it (0 when the writer left it unset).
inline std::uint32_t TpsStatedFileSize(const std::uint8_t* header) { return TpsLe32(header + 6); }

// The 13-byte header of a page.
struct TTPSPageHeader {
  std::uint32_t Address = 0;       // the low 32 bits of the page's own file offset
  std::uint16_t PageSize = 0;      // stored bytes, this header included
  std::uint16_t ExpandedSize = 0;  // the same once the body is expanded
  std::uint16_t RecordCount = 0;
  std::uint8_t Level = 0;  // 0: a page of records; otherwise an index page
  // Equal sizes: the body is stored as it is.
  bool Plain() const { return PageSize == ExpandedSize; }
};
inline TTPSPageHeader TpsPageHeader(const std::uint8_t* h) {
  return {TpsLe32(h), TpsLe16(h + 4), TpsLe16(h + 6), TpsLe16(h + 10), h[12]};
}
// A page sits where it says and holds at least its own header.
inline bool TpsPageInPlace(const TTPSPageHeader& h, std::uint64_t pos) {
  return h.Address == std::uint32_t(pos) && h.PageSize >= kTpsPageHeaderSize;
}
// Pages start on 256-byte boundaries.
inline std::uint64_t TpsNextPageBoundary(std::uint64_t pos) { return (pos + 255) / 256 * 256; }

// Gives back the bytes of a read-only file mapping that reading has left well behind:
// they leave the process's memory and come back from the file when read again.
class TTPSReleaseBehind {
 public:
  // Called with the offset reached; reading that starts again well before the bytes
  // given back starts giving back from there.
  void Reached(std::span<const std::uint8_t> file, std::uint64_t offset);

 private:
  static constexpr std::uint64_t kStep = std::uint64_t(4) << 20;
  std::uint64_t released_ = 0;  // bytes before this offset were given back
};
