// Owner-password encryption of TopSpeed files.
//
// The cipher works on 64-byte blocks of 16 little-endian 32-bit words, aligned to
// file offset 0. An encrypted file has its 512-byte header and every block range of
// its block table encrypted; bytes outside those ranges are plain.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

using TTPSOwnerKey = std::array<std::uint32_t, 16>;

// The key of an owner password (its bytes as given).
TTPSOwnerKey MakeOwnerKey(std::string_view password);
// The key words before mixing, and one mixing pass (exposed for tests).
TTPSOwnerKey OwnerKeySeed(std::string_view password);
void MixOwnerKey(TTPSOwnerKey& key);

void DecryptOwnerBlock(const TTPSOwnerKey& key, std::uint32_t block[16]);
void EncryptOwnerBlock(const TTPSOwnerKey& key, std::uint32_t block[16]);
// Whole 64-byte blocks of data; a shorter tail is left as it is. The data must start
// at a file offset that is a multiple of 64.
void DecryptOwnerBytes(const TTPSOwnerKey& key, std::span<std::uint8_t> data);
void EncryptOwnerBytes(const TTPSOwnerKey& key, std::span<std::uint8_t> data);

// True when the first 512 bytes carry a zero first word and "tOpS" at offset 14.
bool TpsHeaderSignatureOk(std::span<const std::uint8_t> header);

// The file ranges [start, end) the block table of a (plain) header describes, clipped
// to the file size, merged into a sorted union of disjoint ranges.
struct TTPSByteRange {
  std::uint64_t start;
  std::uint64_t end;
};
std::size_t TpsBlockRanges(std::span<const std::uint8_t> header, std::uint64_t fileSize,
                           std::array<TTPSByteRange, 60>& out);

// Decrypts an encrypted file image in place: the header, then each block range once.
// Returns false (image unchanged beyond the header copy) when the decrypted header
// does not carry the signature, i.e. the owner is wrong or the file is no TopSpeed file.
bool DecryptTpsImage(const TTPSOwnerKey& key, std::span<std::uint8_t> image);
// The inverse, for writing test files: encrypts the block ranges, then the header.
void EncryptTpsImage(const TTPSOwnerKey& key, std::span<std::uint8_t> image);
