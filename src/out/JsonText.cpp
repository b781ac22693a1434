#include "out/JsonText.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "cells/KvCodePage.h"
#include "cells/KvConvert.h"

namespace {

// Whether a byte must be escaped inside a JSON string.
constexpr bool NeedsEscape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

template <class Number>
void AppendShortest(std::string& out, Number value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  // std::to_chars without a format gives the shortest text that reads back to the same
  // value of the argument's type; its forms ("-2.7", "1e+16") are valid JSON numbers.
  char text[32];
  const auto res = std::to_chars(text, text + sizeof text, value);
  out.append(text, res.ptr);
}

constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;

// The high bit of each byte of W that is 0x80 or above, below 0x20, '"' or '\\'.
constexpr std::uint64_t NotPlainBytes(std::uint64_t w) {
  const std::uint64_t quote = w ^ (kOnes * '"'), slash = w ^ (kOnes * '\\');
  // A zero byte of Quote or Slash, or a byte below 0x20, sets that byte's high bit.
  return ((w - kOnes * 0x20) | (quote - kOnes) | (slash - kOnes) | w) & kHigh;
}

std::uint64_t Word(const unsigned char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// The length of the run of ASCII bytes at P that need no escape, eight at a time while
// they last.
std::size_t PlainAsciiRun(const unsigned char* p, const unsigned char* end) {
  const unsigned char* q = p;
  while (end - q >= 8 && NotPlainBytes(Word(q)) == 0) q += 8;
  while (q < end && *q < 0x80 && !NeedsEscape(*q)) ++q;
  return std::size_t(q - p);
}

// Whether none of the N bytes at P needs an escape or decoding: eight bytes at a time,
// the last eight overlapping the ones before; four at a time, the same way, below eight.
bool AllPlainAscii(const unsigned char* p, std::size_t n) {
  if (n < 4) return PlainAsciiRun(p, p + n) == n;
  if (n < 8) {
    std::uint32_t head, tail;
    std::memcpy(&head, p, 4);
    std::memcpy(&tail, p + n - 4, 4);
    return NotPlainBytes(std::uint64_t(head) | std::uint64_t(tail) << 32) == 0;
  }
  for (std::size_t i = 0; i + 8 <= n; i += 8)
    if (NotPlainBytes(Word(p + i)) != 0) return false;
  return NotPlainBytes(Word(p + n - 8)) == 0;
}

// Appends the escaped form of a byte that NeedsEscape.
void AppendEscape(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  if (c >= 0x20) {
    out.push_back('\\');
    out.push_back(char(c));
  } else {
    const char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0x0F]};
    out.append(escape, sizeof escape);
  }
}

// Appends the UTF-8 text, escaped, without quotes.
void AppendJsonInner(std::string& out, std::string_view utf8) {
  std::size_t from = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (!NeedsEscape(c)) continue;
    out.append(utf8.substr(from, i - from));
    AppendEscape(out, c);
    from = i + 1;
  }
  out.append(utf8.substr(from));
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view utf8) {
  out.push_back('"');
  AppendJsonInner(out, utf8);
  out.push_back('"');
}

void AppendJsonString(std::string& out, const TKvCodePage& codePage, std::string_view bytes) {
  out.push_back('"');
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  std::int64_t invalid = 0;  // a single-byte code page has no invalid bytes
  while (p < end) {
    // ASCII that stays as it is.
    const auto* q = p + PlainAsciiRun(p, end);
    out.append(reinterpret_cast<const char*>(p), std::size_t(q - p));
    p = q;
    if (p == end) break;
    if (*p < 0x80) {
      AppendEscape(out, *p++);
      continue;
    }
    // Bytes above 127 through the code page's table. Their characters are never ASCII in
    // the code pages there are; should one be, it is escaped like any other.
    while (q < end && *q >= 0x80) ++q;
    const std::size_t at = out.size();
    codePage.AppendUtf8(out, std::string_view(reinterpret_cast<const char*>(p), std::size_t(q - p)),
                        invalid);
    p = q;
    for (std::size_t i = at; i < out.size(); ++i) {
      if (NeedsEscape(static_cast<unsigned char>(out[i]))) {
        const std::string utf8 = out.substr(at);
        out.resize(at);
        AppendJsonInner(out, utf8);
        break;
      }
    }
  }
  out.push_back('"');
}

namespace {

// Most stored doubles hold amounts of at most two decimals. For one below 1e13 whose
// value is the nearest double to n / 100 for an integer n, the digits of n / 100 are the
// shortest that read back: the double's rounding interval is narrower than 0.01, so no
// other number of two decimals or fewer lies in it, and a text of fewer digits would be
// one of them. Fixed notation is what std::to_chars writes unless exponent notation is
// shorter, which is left to it.
char* WriteHundredths(char* at, double value) {
  if (!(std::fabs(value) < 1e13) || value == 0) return nullptr;
  const double scaled = value * 100;
  const std::int64_t n = std::llround(scaled);
  if (double(n) / 100 != value) return nullptr;
  const std::uint64_t whole = std::uint64_t(n < 0 ? -n : n) / 100;
  const unsigned cents = unsigned(std::uint64_t(n < 0 ? -n : n) % 100);
  const unsigned decimals = cents == 0 ? 0 : cents % 10 == 0 ? 1 : 2;
  if (n < 0) *at++ = '-';
  char* const digits = at;
  at = WriteInt(at, std::int64_t(whole));
  // Exponent notation (below 1e13 always two exponent digits): the significant digits,
  // a point when more than one, "e+XX".
  if (decimals == 0) {
    const std::ptrdiff_t integerDigits = at - digits;
    std::ptrdiff_t significant = integerDigits;
    while (significant > 1 && digits[significant - 1] == '0') --significant;
    if (significant + (significant > 1 ? 1 : 0) + 4 < integerDigits) return nullptr;
  }
  if (decimals >= 1) {
    *at++ = '.';
    *at++ = char('0' + cents / 10);
    if (decimals == 2) *at++ = char('0' + cents % 10);
  }
  return at;
}

}  // namespace

char* WriteJsonNumber(char* at, double value) {
  if (char* end = WriteHundredths(at, value)) return end;
  if (!std::isfinite(value)) {
    std::memcpy(at, "null", 4);
    return at + 4;
  }
  return std::to_chars(at, at + kJsonNumberTextMax, value).ptr;
}

void AppendJsonNumber(std::string& out, double value) {
  char text[kJsonNumberTextMax];
  out.append(text, std::size_t(WriteJsonNumber(text, value) - text));
}

void AppendJsonNumber(std::string& out, float value) { AppendShortest(out, value); }

void AppendJsonInteger(std::string& out, std::int64_t value) {
  char text[kJsonNumberTextMax];
  out.append(text, std::size_t(WriteJsonInteger(text, value) - text));
}

char* WriteJsonInteger(char* at, std::int64_t value) { return WriteInt(at, value); }

char* WriteJsonPlainString(char* at, char* end, std::string_view bytes) {
  if (bytes.size() + 2 > std::size_t(end - at)) return nullptr;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  if (!AllPlainAscii(p, bytes.size())) return nullptr;
  *at++ = '"';
  std::memcpy(at, bytes.data(), bytes.size());
  at += bytes.size();
  *at++ = '"';
  return at;
}
