#include "cells/KvBinaryText.h"

#include <cmath>
#include <cstdint>

#include "cells/KvCells.h"
#include "cells/KvConvert.h"

void AppendBase64(std::string& out, std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  const std::size_t start = out.size();
  out.resize(start + (n + 2) / 3 * 4);
  char* o = out.data() + start;
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const std::uint32_t v = std::uint32_t(p[i]) << 16 | std::uint32_t(p[i + 1]) << 8 | p[i + 2];
    *o++ = kAlphabet[v >> 18];
    *o++ = kAlphabet[(v >> 12) & 63];
    *o++ = kAlphabet[(v >> 6) & 63];
    *o++ = kAlphabet[v & 63];
  }
  if (i < n) {
    const bool two = i + 1 < n;
    const std::uint32_t v = std::uint32_t(p[i]) << 16 | (two ? std::uint32_t(p[i + 1]) << 8 : 0);
    *o++ = kAlphabet[v >> 18];
    *o++ = kAlphabet[(v >> 12) & 63];
    *o++ = two ? kAlphabet[(v >> 6) & 63] : '=';
    *o++ = '=';
  }
}

void AppendHex(std::string& out, std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const std::size_t start = out.size();
  out.resize(start + 2 * bytes.size());
  char* o = out.data() + start;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    *o++ = kDigits[b >> 4];
    *o++ = kDigits[b & 15];
  }
}

std::string_view ExtensionForContent(std::string_view b) {
  using namespace std::literals;
  static constexpr struct {
    std::string_view signature;
    std::string_view extension;
  } kSignatures[] = {
      {"BM"sv, "bmp"sv},
      {"\xFF\xD8\xFF"sv, "jpg"sv},
      {"\x89PNG\r\n\x1A\n"sv, "png"sv},
      {"GIF87a"sv, "gif"sv},
      {"GIF89a"sv, "gif"sv},
      {"II*\0"sv, "tif"sv},
      {"MM\0*"sv, "tif"sv},
      {"%PDF"sv, "pdf"sv},
      {"PK\x03\x04"sv, "zip"sv},
      {"PK\x05\x06"sv, "zip"sv},
      {"\0\0\1\0"sv, "ico"sv},
      {"\xD7\xCD\xC6\x9A"sv, "wmf"sv},  // placeable metafile
      {"\1\0\x09\0"sv, "wmf"sv},        // metafile in memory
      {"\2\0\x09\0"sv, "wmf"sv},        // metafile on disk
  };
  for (const auto& s : kSignatures)
    if (b.substr(0, s.signature.size()) == s.signature) return s.extension;
  return "bin";
}

namespace {

char* Two(char* at, int v) {
  at[0] = char('0' + v / 10);
  at[1] = char('0' + v % 10);
  return at + 2;
}

}  // namespace

void AppendIsoDateTime(std::string& out, double dt) {
  // Put together in a small buffer and appended at once.
  char text[24];
  char* t = text;
  const double day = std::trunc(dt);
  const bool hasDate = day != 0, hasTime = dt != day;
  if (hasDate) {
    int y, m, d;
    DecodeDate(dt, y, m, d);
    t = Two(t, y / 100);
    t = Two(t, y % 100);
    *t++ = '-';
    t = Two(t, m);
    *t++ = '-';
    t = Two(t, d);
    if (!hasTime) {
      out.append(text, std::size_t(t - text));
      return;
    }
    *t++ = ' ';
  }
  int h, n, s, ms;
  DecodeTime(dt, h, n, s, ms);
  t = Two(t, h);
  *t++ = ':';
  t = Two(t, n);
  *t++ = ':';
  t = Two(t, s);
  if (ms / 10 != 0) {
    *t++ = '.';
    t = Two(t, ms / 10);
  }
  out.append(text, std::size_t(t - text));
}

bool AppendIsoDateTimeParts(std::string& out, std::int64_t parts, double value) {
  char text[kIsoPartsTextMax];
  const char* const end = WriteIsoDateTimeParts(text, parts, value);
  if (!end) return false;
  out.append(text, std::size_t(end - text));
  return true;
}

char* WriteIsoDateTimeParts(char* t, std::int64_t parts, double value) {
  const std::uint32_t p = std::uint32_t(parts);
  switch (parts & ~std::int64_t(0xFFFFFFFF)) {
    // The parts were checked when decoded: a valid date of years 1 to 9999, a valid
    // time of day; encoding them gave the value, which decodes to the same parts.
    case TKvICellView::kCellDateParts: {
      if (value == 0) return nullptr;
      const int year = int(p >> 16);
      t = Two(t, year / 100);
      t = Two(t, year % 100);
      *t++ = '-';
      t = Two(t, int((p >> 8) & 0xFF));
      *t++ = '-';
      t = Two(t, int(p & 0xFF));
      break;
    }
    case TKvICellView::kCellTimeParts:
      t = Two(t, int(p >> 24));
      *t++ = ':';
      t = Two(t, int((p >> 16) & 0xFF));
      *t++ = ':';
      t = Two(t, int((p >> 8) & 0xFF));
      if ((p & 0xFF) != 0) {
        *t++ = '.';
        t = Two(t, int(p & 0xFF));
      }
      break;
    default:
      return nullptr;
  }
  return t;
}
