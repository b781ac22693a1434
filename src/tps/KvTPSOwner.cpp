#include "tps/KvTPSOwner.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "tps/KvTPSBytes.h"

namespace {

void StoreLE(std::uint8_t* p, std::uint32_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
  p[2] = std::uint8_t(v >> 16);
  p[3] = std::uint8_t(v >> 24);
}

template <typename BlockFn>
void ForEachBlock(std::span<std::uint8_t> data, BlockFn fn) {
  std::uint32_t words[16];
  for (std::size_t off = 0; off + 64 <= data.size(); off += 64) {
    std::uint8_t* p = data.data() + off;
    for (int i = 0; i < 16; ++i) words[i] = TpsLe32(p + 4 * i);
    fn(words);
    for (int i = 0; i < 16; ++i) StoreLE(p + 4 * i, words[i]);
  }
}

}  // namespace

TTPSOwnerKey OwnerKeySeed(std::string_view password) {
  // The password's bytes followed by one zero byte.
  std::size_t n = password.size() + 1;
  auto q = [&](std::size_t i) -> std::uint8_t {
    return i < password.size() ? std::uint8_t(password[i]) : 0;
  };
  std::uint8_t b[64];
  for (std::size_t i = 0; i < 64; ++i) b[(17 * i) % 64] = std::uint8_t(i + q((i + 1) % n));
  TTPSOwnerKey key;
  for (int i = 0; i < 16; ++i) key[std::size_t(i)] = TpsLe32(b + 4 * i);
  return key;
}

void MixOwnerKey(TTPSOwnerKey& key) {
  for (std::size_t i = 0; i < 16; ++i) {
    std::uint32_t a = key[i];
    std::size_t j = a & 15;
    std::uint32_t b = key[j];
    key[j] = a + (a & b);
    key[i] = a + (a | b);
  }
}

TTPSOwnerKey MakeOwnerKey(std::string_view password) {
  TTPSOwnerKey key = OwnerKeySeed(password);
  MixOwnerKey(key);
  MixOwnerKey(key);
  return key;
}

void DecryptOwnerBlock(const TTPSOwnerKey& key, std::uint32_t d[16]) {
  for (int i = 15; i >= 0; --i) {
    std::uint32_t k = key[std::size_t(i)];
    std::size_t j = k & 15;
    std::uint32_t x = d[i] - k, y = d[j] - k;
    d[i] = (x & k) | (y & ~k);
    d[j] = (y & k) | (x & ~k);
  }
}

void EncryptOwnerBlock(const TTPSOwnerKey& key, std::uint32_t d[16]) {
  for (std::size_t i = 0; i < 16; ++i) {
    std::uint32_t k = key[i];
    std::size_t j = k & 15;
    std::uint32_t x = d[i], y = d[j];
    d[i] = k + ((x & k) | (y & ~k));
    d[j] = k + ((y & k) | (x & ~k));
  }
}

void DecryptOwnerBytes(const TTPSOwnerKey& key, std::span<std::uint8_t> data) {
  // Blocks are independent and every block goes through the same steps: eight blocks
  // at a time, word i of each side by side, so that each step is one vector operation.
  constexpr std::size_t kLanes = 8;
  std::size_t off = 0;
  std::uint32_t w[16][kLanes];
  std::uint32_t blocks[kLanes][16];
  const bool little = std::endian::native == std::endian::little;
  for (; little && off + 64 * kLanes <= data.size(); off += 64 * kLanes) {
    std::uint8_t* p = data.data() + off;
    std::memcpy(blocks, p, sizeof blocks);
    for (std::size_t i = 0; i < 16; ++i)
      for (std::size_t l = 0; l < kLanes; ++l) w[i][l] = blocks[l][i];
    for (std::size_t i = 16; i-- > 0;) {
      const std::uint32_t k = key[i];
      const std::size_t j = k & 15;
      std::uint32_t x[kLanes], y[kLanes];
      for (std::size_t l = 0; l < kLanes; ++l) {
        x[l] = w[i][l] - k;
        y[l] = w[j][l] - k;
      }
      for (std::size_t l = 0; l < kLanes; ++l) w[i][l] = (x[l] & k) | (y[l] & ~k);
      for (std::size_t l = 0; l < kLanes; ++l) w[j][l] = (y[l] & k) | (x[l] & ~k);
    }
    for (std::size_t l = 0; l < kLanes; ++l)
      for (std::size_t i = 0; i < 16; ++i) blocks[l][i] = w[i][l];
    std::memcpy(p, blocks, sizeof blocks);
  }
  ForEachBlock(data.subspan(off), [&](std::uint32_t* b) { DecryptOwnerBlock(key, b); });
}

void EncryptOwnerBytes(const TTPSOwnerKey& key, std::span<std::uint8_t> data) {
  ForEachBlock(data, [&](std::uint32_t* w) { EncryptOwnerBlock(key, w); });
}

bool TpsHeaderSignatureOk(std::span<const std::uint8_t> header) {
  return header.size() >= 512 && TpsLe32(header.data()) == 0 &&
         std::memcmp(header.data() + 14, "tOpS", 4) == 0;
}

std::size_t TpsBlockRanges(std::span<const std::uint8_t> header, std::uint64_t fileSize,
                           std::array<TTPSByteRange, 60>& out) {
  std::size_t n = 0;
  if (header.size() < 512) return 0;
  for (int i = 0; i < 60; ++i) {
    auto [start, end] = TpsBlockEntry(header.data(), std::size_t(i));
    end = std::min(end, fileSize);
    if (start >= end) continue;
    out[n++] = {start, end};
  }
  std::sort(out.begin(), out.begin() + std::ptrdiff_t(n),
            [](const TTPSByteRange& a, const TTPSByteRange& b) { return a.start < b.start; });
  // Merge overlapping ranges so no byte is decrypted twice.
  std::size_t m = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (m > 0 && out[i].start <= out[m - 1].end)
      out[m - 1].end = std::max(out[m - 1].end, out[i].end);
    else
      out[m++] = out[i];
  }
  return m;
}

bool DecryptTpsImage(const TTPSOwnerKey& key, std::span<std::uint8_t> image) {
  if (image.size() < 512) return false;
  std::uint8_t header[512];
  std::memcpy(header, image.data(), 512);
  DecryptOwnerBytes(key, std::span<std::uint8_t>(header, 512));
  if (!TpsHeaderSignatureOk(header)) return false;
  std::memcpy(image.data(), header, 512);
  std::array<TTPSByteRange, 60> ranges;
  std::size_t n = TpsBlockRanges(header, image.size(), ranges);
  for (std::size_t i = 0; i < n; ++i)
    DecryptOwnerBytes(key, image.subspan(ranges[i].start, ranges[i].end - ranges[i].start));
  return true;
}

void EncryptTpsImage(const TTPSOwnerKey& key, std::span<std::uint8_t> image) {
  if (image.size() < 512) return;
  std::array<TTPSByteRange, 60> ranges;
  std::size_t n = TpsBlockRanges(image.first(512), image.size(), ranges);
  for (std::size_t i = 0; i < n; ++i)
    EncryptOwnerBytes(key, image.subspan(ranges[i].start, ranges[i].end - ranges[i].start));
  EncryptOwnerBytes(key, image.first(512));
}
