// Decrypting many blocks at once gives what decrypting each block alone gives.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "tps/KvTPSOwner.h"

namespace {

TEST(OwnerBytes, ManyBlocksAtOnceEqualOneByOne) {
  std::uint64_t s = 42;
  auto next = [&] {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 2685821657736338717ULL;
  };
  for (const char* password : {"a", "s3cret", "", "a long owner password, 40 characters!!"}) {
    const TTPSOwnerKey key = MakeOwnerKey(password);
    for (std::size_t size : {0u, 63u, 64u, 511u, 512u, 575u, 4096u, 4100u, 70000u}) {
      std::vector<std::uint8_t> data(size);
      for (auto& b : data) b = std::uint8_t(next());
      const std::vector<std::uint8_t> original = data;
      std::vector<std::uint8_t> want = data;
      for (std::size_t off = 0; off + 64 <= want.size(); off += 64) {
        std::uint32_t words[16];
        for (int i = 0; i < 16; ++i) {
          const std::uint8_t* p = want.data() + off + 4 * i;
          words[i] = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                     std::uint32_t(p[3]) << 24;
        }
        DecryptOwnerBlock(key, words);
        for (int i = 0; i < 16; ++i)
          for (int b = 0; b < 4; ++b) want[off + 4 * i + b] = std::uint8_t(words[i] >> (8 * b));
      }
      DecryptOwnerBytes(key, data);
      EXPECT_EQ(data, want) << password << " " << size;
      // And encrypting gives the bytes back.
      EncryptOwnerBytes(key, data);
      EXPECT_EQ(data, original);
    }
  }
}

}  // namespace
