#include "cells/KvCodePage.h"

#include <charconv>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "cells/KvText.h"

namespace {

bool AcceptedNumber(std::uint32_t n) {
  switch (n) {
    case 437:
    case 850:
    case 852:
    case 855:
    case 857:
    case 858:
    case 860:
    case 861:
    case 862:
    case 863:
    case 865:
    case 866:
    case 869:
    case 874:
    case 28605:
    case kCodePageUtf8:
      return true;
    default:
      return (n >= 1250 && n <= 1258) || (n >= 28591 && n <= 28599);
  }
}

bool ParseNumber(std::string_view digits, std::uint32_t& n) {
  if (digits.empty() || digits.size() > 5) return false;
  const auto res = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  return res.ec == std::errc() && res.ptr == digits.data() + digits.size();
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

}  // namespace

bool TryParseCodePage(std::string_view text, std::uint32_t& number) {
  const std::string s = LowerAscii(text);
  std::string_view v = s;
  std::uint32_t n = 0;
  if (v == "utf-8" || v == "utf8") {
    n = kCodePageUtf8;
  } else if (v == "latin1" || v == "latin-1") {
    n = 28591;
  } else if (StartsWith(v, "iso-8859-") || StartsWith(v, "iso8859-") ||
             StartsWith(v, "iso_8859-")) {
    std::uint32_t part = 0;
    if (!ParseNumber(v.substr(v.find('-', 4) + 1), part)) return false;
    if (part >= 1 && part <= 9)
      n = 28590 + part;
    else if (part == 15)
      n = 28605;
    else
      return false;
  } else {
    for (std::string_view prefix : {"windows-", "cp", "ibm"})
      if (StartsWith(v, prefix)) {
        v.remove_prefix(prefix.size());
        break;
      }
    if (!ParseNumber(v, n)) return false;
    // Prefixed names are those of the single-byte code pages: windows-1252, cp850.
    if (v.size() != s.size() && n > 1258) return false;
  }
  if (!AcceptedNumber(n)) return false;
  number = n;
  return true;
}

std::string CodePageErrorMessage(std::string_view text) {
  return "Unknown code page: \"" + std::string(text) +
         "\". Accepted: 437, 850, 852, 855, 857, 858, 860, 861, 862, 863, 865, 866, 869, 874, "
         "1250-1258, 28591-28599, 28605, 65001, or a name such as windows-1252, cp850, "
         "iso-8859-1 or utf-8.";
}

void AppendCodePointUtf8(std::string& out, char32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
  char b[4];
  std::size_t n;
  if (cp < 0x80) {
    b[0] = char(cp), n = 1;
  } else if (cp < 0x800) {
    b[0] = char(0xC0 | (cp >> 6)), b[1] = char(0x80 | (cp & 0x3F)), n = 2;
  } else if (cp < 0x10000) {
    b[0] = char(0xE0 | (cp >> 12)), b[1] = char(0x80 | ((cp >> 6) & 0x3F));
    b[2] = char(0x80 | (cp & 0x3F)), n = 3;
  } else {
    b[0] = char(0xF0 | (cp >> 18)), b[1] = char(0x80 | ((cp >> 12) & 0x3F));
    b[2] = char(0x80 | ((cp >> 6) & 0x3F)), b[3] = char(0x80 | (cp & 0x3F)), n = 4;
  }
  out.append(b, n);
}

namespace {

// Length of the run of ASCII bytes at the start of [p, end): 8 bytes a step.
std::size_t AsciiRun(const unsigned char* p, const unsigned char* end) {
  const unsigned char* q = p;
  while (end - q >= 8) {
    std::uint64_t w;
    std::memcpy(&w, q, 8);
    if (w & 0x8080808080808080ull) break;
    q += 8;
  }
  while (q < end && *q < 0x80) ++q;
  return std::size_t(q - p);
}

}  // namespace

std::int64_t AppendValidUtf8(std::string& out, std::string_view text) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  std::int64_t bad = 0;
  while (p < end) {
    const std::size_t run = AsciiRun(p, end);
    out.append(reinterpret_cast<const char*>(p), run);
    p += run;
    if (p == end) break;
    const unsigned char c = *p;
    // The sequence length and the allowed range of the second byte (which rules out
    // overlong forms, surrogates and values above U+10FFFF).
    std::size_t need = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      need = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      need = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      need = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    }
    std::size_t got = 1;
    if (need != 0) {
      for (; got < need && p + got < end; ++got) {
        const unsigned char d = p[got];
        if (got == 1 ? (d < lo || d > hi) : (d < 0x80 || d > 0xBF)) break;
      }
    }
    if (need != 0 && got == need) {
      out.append(reinterpret_cast<const char*>(p), need);
    } else {
      // The maximal invalid part: the lead byte and the continuation bytes that fit.
      out.append(kReplacement);
      ++bad;
    }
    p += got;
  }
  return bad;
}

TKvCodePage::TKvCodePage(std::uint32_t number, const std::array<char32_t, 256>& unicode)
    : number_(number), unicode_(unicode) {
  // Every accepted code page keeps ASCII as it is (the conversion copies ASCII runs).
  for (std::size_t b = 0; b < 0x80; ++b) unicode_[b] = char32_t(b);
  for (std::size_t b = 0x80; b < 0x100; ++b) {
    // A single byte never stands for a character beyond the basic plane (4 UTF-8
    // bytes) nor for a surrogate; such a table entry keeps the byte's own number.
    if (unicode_[b] > 0xFFFF || (unicode_[b] >= 0xD800 && unicode_[b] <= 0xDFFF))
      unicode_[b] = char32_t(b);
    std::string u;
    AppendCodePointUtf8(u, unicode_[b]);
    THigh& h = high_[b - 0x80];
    std::memcpy(h.Bytes, u.data(), u.size());
    h.Length = std::uint8_t(u.size());
  }
}

void TKvCodePage::AppendUtf8(std::string& out, std::string_view text, std::int64_t& invalid) const {
  if (IsUtf8()) {
    invalid += AppendValidUtf8(out, text);
    return;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    const std::size_t run = AsciiRun(p, end);
    out.append(reinterpret_cast<const char*>(p), run);
    p += run;
    // Bytes above 127 until the next ASCII one, through the table.
    char buf[3 * 64];
    std::size_t n = 0;
    while (p < end && *p >= 0x80 && n <= sizeof buf - 3) {
      const THigh& h = high_[*p++ - 0x80];
      std::memcpy(buf + n, h.Bytes, 3);
      n += h.Length;
    }
    out.append(buf, n);
  }
}

const TKvCodePage& TKvCodePage::Get(std::uint32_t number) {
  static std::mutex mutex;
  static std::map<std::uint32_t, std::unique_ptr<TKvCodePage>> built;
  std::lock_guard<std::mutex> lock(mutex);
  auto& slot = built[number];
  if (!slot) {
    std::array<char32_t, 256> unicode{};
    for (std::size_t b = 0; b < unicode.size(); ++b) unicode[b] = char32_t(b);
    if (number != kCodePageUtf8) PlatformCodePageTable(number, unicode);
    slot = std::make_unique<TKvCodePage>(number, unicode);
  }
  return *slot;
}
