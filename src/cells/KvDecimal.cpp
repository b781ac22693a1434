#include "cells/KvDecimal.h"

#include <array>
#include <cstring>

namespace {

// The two characters of each byte's nibbles, '0' + nibble, the high one first.
constexpr auto kNibbleChars = [] {
  std::array<char, 512> chars{};
  for (int b = 0; b < 256; ++b) {
    chars[std::size_t(2 * b)] = char('0' + (b >> 4));
    chars[std::size_t(2 * b + 1)] = char('0' + (b & 0x0F));
  }
  return chars;
}();

// The digits of a packed decimal, most significant first; returns their count.
std::size_t Digits(std::string_view packed, char* digits) {
  if (packed.empty()) return 0;
  digits[0] = char('0' + (std::uint8_t(packed[0]) & 0x0F));
  for (std::size_t i = 1; i < packed.size(); ++i)
    std::memcpy(digits + 2 * i - 1, kNibbleChars.data() + 2 * std::uint8_t(packed[i]), 2);
  return 2 * packed.size() - 1;
}

// A field of up to 29 bytes holds a packed decimal (57 digits); longer bytes are cut to
// that (the decoding never gives more).
constexpr std::size_t kMaxStoredBytes = 29;
static_assert(kPackedDecimalTextMax >= 3 + 2 * kMaxStoredBytes - 1);  // "-0." and the digits
// WritePackedDecimalText's texts: up to 31 digits in 16 bytes.
constexpr std::size_t kMaxBytes = kPackedDecimalWriteBytes;
// The digits are copied in blocks of kBlock: the whole digits (after a sign) and then the
// fraction (after the point) each as one block of fixed size, which needs no call.
constexpr std::size_t kBlock = 2 * kMaxBytes;
static_assert(kPackedDecimalTextMax >= 1 + kBlock + 1 + kBlock);

}  // namespace

int PackedDecimalSignificantDigits(std::string_view packed) {
  char d[2 * kMaxStoredBytes];
  const std::size_t n = Digits(packed.substr(0, kMaxStoredBytes), d);
  std::size_t first = 0, last = n;
  while (first < n && d[first] == '0') ++first;
  while (last > first && d[last - 1] == '0') --last;
  return int(last - first);
}

void AppendPackedDecimal(std::string& out, std::string_view packed, int decimals,
                         char decimalSeparator, bool allDecimals) {
  char text[kPackedDecimalTextMax];
  out.append(text,
             std::size_t(WritePackedDecimal(text, packed, decimals, decimalSeparator, allDecimals) -
                         text));
}

char* WritePackedDecimal(char* t, std::string_view packed, int decimals, char decimalSeparator,
                         bool allDecimals) {
  char d[2 * kMaxStoredBytes];
  const std::size_t n = Digits(packed.substr(0, kMaxStoredBytes), d);
  const std::size_t frac = decimals >= 1 && std::size_t(decimals) <= n ? std::size_t(decimals) : 0;
  const std::size_t whole = n - frac;
  std::size_t first = 0;
  while (first < whole && d[first] == '0') ++first;
  std::size_t fracEnd = n;
  if (!allDecimals)
    while (fracEnd > whole && d[fracEnd - 1] == '0') --fracEnd;
  bool zero = true;
  for (std::size_t i = first; i < n && zero; ++i) zero = d[i] == '0';
  // A negative zero is written as zero.
  if (!packed.empty() && (std::uint8_t(packed[0]) >> 4) != 0 && !zero) *t++ = '-';
  if (first == whole) {
    *t++ = '0';
  } else {
    std::memcpy(t, d + first, whole - first);
    t += whole - first;
  }
  if (fracEnd > whole) {
    *t++ = decimalSeparator;
    std::memcpy(t, d + whole, fracEnd - whole);
    t += fracEnd - whole;
  }
  return t;
}

bool AppendPackedDecimalText(std::string& out, std::string_view packed, int decimals,
                             char decimalSeparator) {
  if (packed.empty() || packed.size() > kMaxBytes) {
    if (!PackedDecimalNeedsDigits(packed)) return false;
    AppendPackedDecimal(out, packed, decimals, decimalSeparator, false);
    return true;
  }
  char text[kPackedDecimalTextMax];
  char* const end = WritePackedDecimalText(text, packed, decimals, decimalSeparator);
  if (!end) return false;
  out.append(text, std::size_t(end - text));
  return true;
}

char* WritePackedDecimalText(char* t, std::string_view packed, int decimals,
                             char decimalSeparator) {
  if (packed.empty() || packed.size() > kMaxBytes) return nullptr;
  char d[2 * kBlock] = {};  // a block may be copied from any digit
  const std::size_t n = Digits(packed, d);
  std::size_t first = 0, last = n;
  while (first < n && d[first] == '0') ++first;
  while (last > first && d[last - 1] == '0') --last;
  const std::size_t whole =
      n - (decimals >= 1 && std::size_t(decimals) <= n ? std::size_t(decimals) : 0);
  // The exponent of the first significant digit is whole - 1 - first.
  const bool plain = first == n || (first < whole + 4 && first + 15 >= whole);
  if (last - first <= 15 && !plain) return nullptr;
  // AppendPackedDecimal's text, put together in one pass.
  if (first == n) {
    *t++ = '0';
    return t;
  }
  if ((std::uint8_t(packed[0]) >> 4) != 0) *t++ = '-';
  if (first >= whole) {
    *t++ = '0';
  } else {
    std::memcpy(t, d + first, kBlock);
    t += whole - first;
  }
  if (last > whole) {
    *t++ = decimalSeparator;
    std::memcpy(t, d + whole, kBlock);
    t += last - whole;
  }
  return t;
}
