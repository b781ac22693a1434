#include "cells/KvDecimal.h"

#include <cstring>

namespace {

// The digits of a packed decimal, most significant first; returns their count.
std::size_t Digits(std::string_view packed, char* digits) {
  std::size_t n = 0;
  if (packed.empty()) return 0;
  digits[n++] = char('0' + (std::uint8_t(packed[0]) & 0x0F));
  for (std::size_t i = 1; i < packed.size(); ++i) {
    const std::uint8_t b = std::uint8_t(packed[i]);
    digits[n++] = char('0' + (b >> 4));
    digits[n++] = char('0' + (b & 0x0F));
  }
  return n;
}

// Up to 31 digits in 16 bytes; longer texts are cut to that (a cell never holds more).
constexpr std::size_t kMaxBytes = kPackedDecimalWriteBytes;
static_assert(kPackedDecimalTextMax >= 2 * kMaxBytes + 3);  // a sign, "0", 31 digits, the point

}  // namespace

int PackedDecimalSignificantDigits(std::string_view packed) {
  char d[2 * kMaxBytes];
  const std::size_t n = Digits(packed.substr(0, kMaxBytes), d);
  std::size_t first = 0, last = n;
  while (first < n && d[first] == '0') ++first;
  while (last > first && d[last - 1] == '0') --last;
  return int(last - first);
}

void AppendPackedDecimal(std::string& out, std::string_view packed, int decimals,
                         char decimalSeparator, bool allDecimals) {
  char d[2 * kMaxBytes];
  const std::size_t n = Digits(packed.substr(0, kMaxBytes), d);
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
  if (!packed.empty() && (std::uint8_t(packed[0]) >> 4) != 0 && !zero) out += '-';
  if (first == whole)
    out += '0';
  else
    out.append(d + first, whole - first);
  if (fracEnd > whole) {
    out += decimalSeparator;
    out.append(d + whole, fracEnd - whole);
  }
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
  char d[2 * kMaxBytes];
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
    std::memcpy(t, d + first, whole - first);
    t += whole - first;
  }
  if (last > whole) {
    *t++ = decimalSeparator;
    std::memcpy(t, d + whole, last - whole);
    t += last - whole;
  }
  return t;
}
