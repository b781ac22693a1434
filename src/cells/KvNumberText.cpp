// Number text: integers, the %G forms of reals (with the fast shortest-digits path)
// and currency, under a set of regional settings.
#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"

// ---------------------------------------------------------------- formatting

char* WriteInt(char* at, std::int64_t v) {
  std::uint64_t u = v < 0 ? 0 - std::uint64_t(v) : std::uint64_t(v);
  if (u >= kIntPowersOfTen[15]) return std::to_chars(at, at + 20, v).ptr;
  if (v < 0) *at++ = '-';
  // The count of digits from the count of bits (1233 / 4096 is just above log10(2)),
  // then one more when U reaches the next power of ten.
  const int estimate = int(std::bit_width(u | 1) * 1233) >> 12;
  const int digits = std::max(1, estimate + int(u >= kIntPowersOfTen[std::size_t(estimate)]));
  char* const end = at + digits;
  char* p = end;
  while (u >= 100) {
    p -= 2;
    std::memcpy(p, kDigitPairs.data() + 2 * (u % 100), 2);
    u /= 100;
  }
  if (u >= 10)
    std::memcpy(p - 2, kDigitPairs.data() + 2 * u, 2);
  else
    p[-1] = char('0' + u);
  return end;
}

void AppendInt(std::string& out, std::int64_t v) {
  char buf[24];
  out.append(buf, std::size_t(WriteInt(buf, v) - buf));
}

namespace {

// %.{precision}G from the shortest digits that read back as v, when they are at most
// `precision` digits: then they are also v rounded to `precision` digits. Half a unit
// in the last place of a double is at most 2^-53 (1.1e-16) of its magnitude, less than
// half a unit in the 15th significant digit (at least 5e-16 of the magnitude), so no
// 15-digit number other than the shortest one can be nearer to v. Subnormal numbers
// have fewer bits and no such bound. Writes at T (kNumberTextMax characters of room: a
// sign, 15 digits, the separator, "E-308") and returns the end; null (and nothing
// written) for longer digit strings, precisions above 15, subnormal numbers, infinities
// and NaN.
char* WriteShortestG(char* t, double v, int precision, char decimalSeparator) {
  if (precision > 15 || precision < 1) return nullptr;
  int kind = std::fpclassify(v);
  if (kind != FP_NORMAL && kind != FP_ZERO) return nullptr;
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  if (r.ec != std::errc()) return nullptr;
  // buf: [-]d[.ddd]e(+|-)dd[d]
  const char* p = buf;
  bool negative = *p == '-';
  if (negative) ++p;
  char digits[20];
  int count = 0;
  for (; p < r.ptr && *p != 'e'; ++p)
    if (*p != '.') {
      if (count == precision) return nullptr;
      digits[count++] = *p;
    }
  if (p == r.ptr) return nullptr;
  ++p;  // 'e'
  bool negativeExponent = *p == '-';
  ++p;
  int exponent = 0;
  for (; p < r.ptr; ++p) exponent = exponent * 10 + (*p - '0');
  if (negativeExponent) exponent = -exponent;
  while (count > 1 && digits[count - 1] == '0') --count;

  if (negative) *t++ = '-';
  if (exponent < -4 || exponent >= precision) {
    *t++ = digits[0];
    if (count > 1) {
      *t++ = decimalSeparator;
      for (int i = 1; i < count; ++i) *t++ = digits[i];
    }
    *t++ = 'E';
    *t++ = negativeExponent ? '-' : '+';
    int magnitude = negativeExponent ? -exponent : exponent;
    if (magnitude >= 100) *t++ = char('0' + magnitude / 100);
    *t++ = char('0' + magnitude / 10 % 10);
    *t++ = char('0' + magnitude % 10);
  } else if (exponent < 0) {
    *t++ = '0';
    *t++ = decimalSeparator;
    for (int i = -1; i > exponent; --i) *t++ = '0';
    for (int i = 0; i < count; ++i) *t++ = digits[i];
  } else {
    // exponent + 1 digits before the separator, zeros where the digits run out.
    for (int i = 0; i <= exponent; ++i) *t++ = i < count ? digits[i] : '0';
    if (count > exponent + 1) {
      *t++ = decimalSeparator;
      for (int i = exponent + 1; i < count; ++i) *t++ = digits[i];
    }
  }
  return t;
}

// The same for the common case of a value with few decimals between 1E-4 and
// 10^precision, without the digit generation of the library: finds N and d with
// N / 10^d == v in double arithmetic. N below 2^53 and 10^d up to 10^22 are exact
// doubles and the division is correctly rounded, so the decimal N / 10^d reads back as
// v; with at most `precision` digits it is then v rounded to that many digits (see
// above), written in plain form since its exponent lies between -4 and precision - 1.
// Writes at T as WriteShortestG.
char* WriteFewDecimalsG(char* t, double v, int precision, char decimalSeparator) {
  if (precision > 15 || precision < 1 || std::fpclassify(v) != FP_NORMAL) return nullptr;
  double magnitude = v < 0 ? -v : v;
  double limit = kPowersOfTen[precision];
  if (magnitude >= limit) return nullptr;
  // N / 10^d for the smallest d: whole numbers first, then d = 2 (amounts): a smaller d that
  // reads back makes N at d = 2 that d's N times a power of ten, and whether the
  // division reads back depends only on the decimal's value, so trailing zeros of N at
  // d = 2 give the smaller d. Otherwise every d in turn, as a value of more digits
  // than `precision` at d = 2 may still have few enough at a smaller d.
  std::uint64_t n = 0;
  int d = -1;
  if (const auto whole = std::int64_t(magnitude); double(whole) == magnitude) {
    n = std::uint64_t(whole);  // a whole number (below 10^15 here)
    d = 0;
  } else if (const double scaled = magnitude * 100; scaled + 0.5 < limit) {
    n = std::uint64_t(std::int64_t(scaled + 0.5));
    if (n != 0 && double(std::int64_t(n)) / 100 == magnitude) {
      d = 2;
      for (; d > 0 && n % 10 == 0; --d) n /= 10;
    }
  }
  for (int k = 0; d < 0 && k <= 15; ++k) {
    double scaled = magnitude * kPowersOfTen[k];
    if (scaled + 0.5 >= limit) return nullptr;  // more than `precision` digits
    // Below 10^15: the signed conversion is exact and cheaper than the unsigned one.
    n = std::uint64_t(std::int64_t(scaled + 0.5));
    if (double(std::int64_t(n)) / kPowersOfTen[k] == magnitude) d = k;
  }
  if (d < 0) return nullptr;
  if (n * 10000 < kIntPowersOfTen[d]) return nullptr;  // below 1E-4: exponent form
  if (v < 0) *t++ = '-';
  t = WriteInt(t, std::int64_t(n / kIntPowersOfTen[d]));
  std::uint64_t fraction = n % kIntPowersOfTen[d];
  if (fraction != 0) {
    *t++ = decimalSeparator;
    int digits = d;
    while (fraction % 10 == 0) {
      fraction /= 10;
      --digits;
    }
    for (int i = digits - 1; i >= 0; --i) {
      t[i] = char('0' + fraction % 10);
      fraction /= 10;
    }
    t += digits;
  }
  return t;
}

}  // namespace

char* WriteFloatG(char* at, double v, int precision, char decimalSeparator) {
  if (char* end = WriteFewDecimalsG(at, v, precision, decimalSeparator)) return end;
  if (char* end = WriteShortestG(at, v, precision, decimalSeparator)) return end;
  // Subnormal numbers, infinities and NaN: the library's text, at most
  // "-2.22507385850720E-308" (22 characters) at these precisions.
  auto r = std::to_chars(at, at + kNumberTextMax, v, std::chars_format::general, precision);
  for (char* p = at; p < r.ptr; ++p) {
    if (*p == '.')
      *p = decimalSeparator;
    else if (*p >= 'a' && *p <= 'z')
      *p = char(*p - 32);  // 1E+20, INF, NAN as printf's %G writes them
  }
  return r.ptr;
}

void AppendFloatG(std::string& out, double v, int precision, const FormatSettings& fs) {
  if (precision >= 1 && precision <= 15) {
    char text[kNumberTextMax];
    out.append(text, std::size_t(WriteFloatG(text, v, precision, fs.DecimalSeparator) - text));
    return;
  }
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, precision);
  for (char* p = buf; p < r.ptr; ++p) {
    char c = *p;
    if (c == '.')
      c = fs.DecimalSeparator;
    else if (c >= 'a' && c <= 'z')
      c = char(c - 32);  // 1E+20, INF, NAN as printf's %G writes them
    out += c;
  }
}

std::string FormatFloatG(double v, int precision, const FormatSettings& fs) {
  std::string out;
  AppendFloatG(out, v, precision, fs);
  return out;
}

std::string FormatCurrency(std::int64_t scaled, const FormatSettings& fs) {
  std::string out;
  std::uint64_t mag = scaled < 0 ? std::uint64_t(0) - std::uint64_t(scaled) : std::uint64_t(scaled);
  if (scaled < 0) out += '-';
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, mag / 10000);
  out.append(buf, std::size_t(r.ptr - buf));
  unsigned frac = unsigned(mag % 10000);
  if (frac) {
    char digits[5] = {char('0' + frac / 1000), char('0' + frac / 100 % 10),
                      char('0' + frac / 10 % 10), char('0' + frac % 10), 0};
    int len = 4;
    while (len > 0 && digits[len - 1] == '0') --len;
    out += fs.DecimalSeparator;
    out.append(digits, std::size_t(len));
  }
  return out;
}
