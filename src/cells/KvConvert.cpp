#include "cells/KvConvert.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>

#include "cells/KvExceptions.h"
#include "cells/KvText.h"

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && SameTextAscii(s.substr(0, prefix.size()), prefix);
}

// Reads an unsigned decimal number of at most maxDigits digits at s[pos].
bool ReadUnsigned(std::string_view s, std::size_t& pos, int& value, int maxDigits = 9) {
  std::size_t start = pos;
  value = 0;
  while (pos < s.size() && IsDigit(s[pos]) && int(pos - start) < maxDigits) {
    value = value * 10 + (s[pos] - '0');
    ++pos;
  }
  return pos > start;
}

constexpr int kDaysBefore[2][13] = {{0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
                                    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366}};

int DaysInMonth(int year, int month) {
  int leap = IsLeapYear(year) ? 1 : 0;
  return kDaysBefore[leap][month] - kDaysBefore[leap][month - 1];
}

// The order of the fields in a short date pattern: order[k] is the field that comes
// k-th (0 year, 1 month, 2 day); year, month, day when the pattern lacks one of them.
void DateOrder(const std::string& pattern, int order[3]) {
  std::size_t py = pattern.find_first_of("yY"), pm = pattern.find_first_of("mM"),
              pd = pattern.find_first_of("dD");
  struct Item {
    std::size_t pos;
    int field;
  } items[3] = {{py, 0}, {pm, 1}, {pd, 2}};
  for (int i = 0; i < 3; ++i)
    for (int j = i + 1; j < 3; ++j)
      if (items[j].pos < items[i].pos) std::swap(items[i], items[j]);
  for (int i = 0; i < 3; ++i) order[i] = items[i].field;
  if (py == std::string::npos || pm == std::string::npos || pd == std::string::npos) {
    order[0] = 0;
    order[1] = 1;
    order[2] = 2;
  }
}

// Date part "a<sep>b<sep>c" at s[pos]; advances pos past it.
bool ParseDatePart(std::string_view s, std::size_t& pos, const FormatSettings& fs, TDateTime& out) {
  int order[3];
  DateOrder(fs.ShortDateFormat, order);
  int values[3] = {0, 0, 0};
  int digits[3] = {0, 0, 0};
  std::size_t p = pos;
  for (int k = 0; k < 3; ++k) {
    if (k > 0) {
      if (p >= s.size() || s[p] != fs.DateSeparator) return false;
      ++p;
    }
    std::size_t start = p;
    if (!ReadUnsigned(s, p, values[k], 4)) return false;
    digits[k] = int(p - start);
  }
  int year = 0, month = 0, day = 0;
  for (int k = 0; k < 3; ++k) {
    if (order[k] == 0) {
      year = values[k];
      if (digits[k] <= 2) year += year < 50 ? 2000 : 1900;
    } else if (order[k] == 1) {
      month = values[k];
    } else {
      day = values[k];
    }
  }
  if (!TryEncodeDate(year, month, day, out)) return false;
  pos = p;
  return true;
}

// Time part "h[:n[:s[.z]]] [AM|PM]" at s[pos]; advances pos past it.
bool ParseTimePart(std::string_view s, std::size_t& pos, const FormatSettings& fs, TDateTime& out) {
  std::size_t p = pos;
  int h = 0, n = 0, sec = 0, ms = 0;
  if (!ReadUnsigned(s, p, h, 2)) return false;
  bool hadSep = false;
  if (p < s.size() && s[p] == fs.TimeSeparator) {
    ++p;
    hadSep = true;
    if (!ReadUnsigned(s, p, n, 2)) return false;
    if (p < s.size() && s[p] == fs.TimeSeparator) {
      ++p;
      if (!ReadUnsigned(s, p, sec, 2)) return false;
      if (p < s.size() && (s[p] == '.' || s[p] == fs.DecimalSeparator) && p + 1 < s.size() &&
          IsDigit(s[p + 1])) {
        ++p;
        std::size_t start = p;
        int frac = 0;
        ReadUnsigned(s, p, frac, 3);
        for (std::size_t d = p - start; d < 3; ++d) frac *= 10;
        ms = frac;
        while (p < s.size() && IsDigit(s[p])) ++p;
      }
    }
  }
  std::size_t q = p;
  while (q < s.size() && s[q] == ' ') ++q;
  std::string_view rest = s.substr(q);
  bool pm = false, am = false;
  auto match = [&](const std::string& designator) {
    return !designator.empty() && StartsWithNoCase(rest, designator);
  };
  if (match(fs.TimePMString)) {
    pm = true;
    q += fs.TimePMString.size();
  } else if (match(fs.TimeAMString)) {
    am = true;
    q += fs.TimeAMString.size();
  } else if (StartsWithNoCase(rest, "PM")) {
    pm = true;
    q += 2;
  } else if (StartsWithNoCase(rest, "AM")) {
    am = true;
    q += 2;
  }
  if (!hadSep && !am && !pm) return false;
  if (am || pm) {
    if (h > 12 || h == 0) return false;
    if (pm && h < 12) h += 12;
    if (am && h == 12) h = 0;
    p = q;
  }
  if (!TryEncodeTime(h, n, sec, ms, out)) return false;
  pos = p;
  return true;
}

void AppendPadded(std::string& out, long long v, int width) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v < 0 ? -v : v);
  int len = int(r.ptr - buf);
  if (v < 0) out += '-';
  for (int i = len; i < width; ++i) out += '0';
  out.append(buf, std::size_t(len));
}

}  // namespace

// ---------------------------------------------------------------- text to value

bool TryTextToDouble(std::string_view text, const FormatSettings& fs, double& out) {
  std::string_view s = Trim(text);
  char clean[400];
  std::size_t n = 0;
  std::size_t i = 0;
  if (s.empty() || s.size() >= sizeof clean - 2) return false;
  if (s[i] == '+' || s[i] == '-') {
    if (s[i] == '-') clean[n++] = '-';
    ++i;
  }
  int mantissaDigits = 0;
  bool seenPoint = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (IsDigit(c)) {
      clean[n++] = c;
      ++mantissaDigits;
    } else if (c == fs.DecimalSeparator && !seenPoint) {
      clean[n++] = '.';
      seenPoint = true;
    } else if (c == fs.ThousandSeparator && !seenPoint && mantissaDigits > 0 && i + 1 < s.size() &&
               IsDigit(s[i + 1])) {
      // grouping between digits of the integral part
    } else {
      break;
    }
  }
  if (mantissaDigits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    clean[n++] = 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) clean[n++] = s[i++];
    int expDigits = 0;
    while (i < s.size() && IsDigit(s[i])) {
      clean[n++] = s[i++];
      ++expDigits;
    }
    if (expDigits == 0) return false;
  }
  if (i != s.size()) return false;
  double v = 0;
  auto r = std::from_chars(clean, clean + n, v);
  if (r.ec == std::errc::result_out_of_range) {
    // from_chars leaves v unchanged on overflow/underflow; decide by the exponent
    v = std::strtod(std::string(clean, n).c_str(), nullptr);
  } else if (r.ec != std::errc() || r.ptr != clean + n) {
    return false;
  }
  if (!std::isfinite(v)) return false;
  out = v;
  return true;
}

bool TryTextToBoolean(std::string_view text, const FormatSettings& fs, bool& out) {
  std::string_view s = Trim(text);
  if (SameTextAscii(s, "true")) {
    out = true;
    return true;
  }
  if (SameTextAscii(s, "false")) {
    out = false;
    return true;
  }
  double d;
  if (TryTextToDouble(s, fs, d)) {
    out = d != 0;
    return true;
  }
  return false;
}

bool TryTextToDateTime(std::string_view text, const FormatSettings& fs, TDateTime& out) {
  std::string_view s = Trim(text);
  if (s.empty()) return false;
  std::size_t pos = 0;
  TDateTime date = 0, time = 0;
  bool haveDate = false;
  if (ParseDatePart(s, pos, fs, date)) {
    haveDate = true;
    if (pos == s.size()) {
      out = date;
      return true;
    }
    if (s[pos] != ' ' && s[pos] != 'T') return false;
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == 'T')) ++pos;
  }
  if (!ParseTimePart(s, pos, fs, time) || pos != s.size()) return false;
  out = haveDate ? (date >= 0 ? date + time : date - time) : time;
  return true;
}

bool TryTextToDate(std::string_view text, const FormatSettings& fs, TDateTime& out) {
  std::string_view s = Trim(text);
  std::size_t pos = 0;
  TDateTime date = 0;
  if (!ParseDatePart(s, pos, fs, date) || pos != s.size()) return false;
  out = date;
  return true;
}

bool TryStrToInt(std::string_view text, std::int32_t& out) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  std::uint64_t v = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int d;
    if (IsDigit(c))
      d = c - '0';
    else if (base == 16 && UpperAscii(c) >= 'A' && UpperAscii(c) <= 'F')
      d = UpperAscii(c) - 'A' + 10;
    else
      return false;
    v = v * std::uint64_t(base) + std::uint64_t(d);
    if (v > 0xFFFFFFFFull) return false;
  }
  if (base == 16) {
    // hexadecimal gives the 32-bit pattern
    std::int32_t bits = std::int32_t(std::uint32_t(v));
    out = negative ? -bits : bits;
    return true;
  }
  if (negative ? v > 2147483648ull : v > 2147483647ull) return false;
  out = negative ? std::int32_t(-std::int64_t(v)) : std::int32_t(v);
  return true;
}

std::int32_t StrToInt(std::string_view text) {
  std::int32_t v;
  if (!TryStrToInt(text, v))
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return v;
}

// ---------------------------------------------------------------- variant conversions

namespace {

std::int32_t RealToInteger(double d) {
  double r = RoundHalfEven(d);
  if (!(r >= -2147483648.0 && r <= 2147483647.0))
    throw EInvalidOp("Invalid floating point operation");
  return std::int32_t(r);
}

}  // namespace

std::int32_t VarToInteger(const Variant& v, const FormatSettings& fs) {
  switch (v.Kind()) {
    case VarKind::Empty:
      return 0;
    case VarKind::SmallInt:
    case VarKind::Integer:
    case VarKind::Byte:
      return v.AsInt();
    case VarKind::Boolean:
      return v.AsBool() ? -1 : 0;
    case VarKind::Single:
    case VarKind::Double:
    case VarKind::Date:
    case VarKind::Currency:
      return RealToInteger(v.AsDouble());
    case VarKind::String:
    case VarKind::WideString: {
      double d;
      if (!TryTextToDouble(v.AsString(), fs, d)) ThrowTypeCast();
      double r = RoundHalfEven(d);
      if (!(r >= -2147483648.0 && r <= 2147483647.0)) ThrowTypeCast();
      return std::int32_t(r);
    }
    case VarKind::Null:
      break;
  }
  ThrowTypeCast();
}

double VarToReal(const Variant& v, const FormatSettings& fs) {
  switch (v.Kind()) {
    case VarKind::Empty:
      return 0;
    case VarKind::String:
    case VarKind::WideString: {
      double d;
      if (!TryTextToDouble(v.AsString(), fs, d)) ThrowTypeCast();
      return d;
    }
    case VarKind::Null:
      ThrowTypeCast();
    default:
      return v.AsDouble();
  }
}

bool VarToBoolean(const Variant& v, const FormatSettings& fs) {
  switch (v.Kind()) {
    case VarKind::Empty:
      return false;
    case VarKind::Boolean:
      return v.AsBool();
    case VarKind::String:
    case VarKind::WideString: {
      bool b;
      if (!TryTextToBoolean(v.AsString(), fs, b)) ThrowTypeCast();
      return b;
    }
    case VarKind::Null:
      ThrowTypeCast();
    case VarKind::Currency:
      return v.AsCurrencyScaled() != 0;
    default:
      return v.AsDouble() != 0;
  }
}

// ---------------------------------------------------------------- formatting

void AppendInt(std::string& out, std::int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, std::size_t(r.ptr - buf));
}

namespace {

// %.{precision}G from the shortest digits that read back as v, when they are at most
// `precision` digits: then they are also v rounded to `precision` digits. Half a unit
// in the last place of a double is at most 2^-53 (1.1e-16) of its magnitude, less than
// half a unit in the 15th significant digit (at least 5e-16 of the magnitude), so no
// 15-digit number other than the shortest one can be nearer to v. Subnormal numbers
// have fewer bits and no such bound. Returns false (and writes nothing) for longer digit
// strings, precisions above 15, subnormal numbers, infinities and NaN.
bool AppendShortestG(std::string& out, double v, int precision, char decimalSeparator) {
  if (precision > 15 || precision < 1) return false;
  int kind = std::fpclassify(v);
  if (kind != FP_NORMAL && kind != FP_ZERO) return false;
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  if (r.ec != std::errc()) return false;
  // buf: [-]d[.ddd]e(+|-)dd[d]
  const char* p = buf;
  bool negative = *p == '-';
  if (negative) ++p;
  char digits[20];
  int count = 0;
  for (; p < r.ptr && *p != 'e'; ++p)
    if (*p != '.') {
      if (count == precision) return false;
      digits[count++] = *p;
    }
  if (p == r.ptr) return false;
  ++p;  // 'e'
  bool negativeExponent = *p == '-';
  ++p;
  int exponent = 0;
  for (; p < r.ptr; ++p) exponent = exponent * 10 + (*p - '0');
  if (negativeExponent) exponent = -exponent;
  while (count > 1 && digits[count - 1] == '0') --count;

  char text[48];
  char* t = text;
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
  out.append(text, std::size_t(t - text));
  return true;
}

// The same for the common case of a value with few decimals between 1E-4 and
// 10^precision, without the digit generation of the library: finds N and d with
// N / 10^d == v in double arithmetic. N below 2^53 and 10^d up to 10^22 are exact
// doubles and the division is correctly rounded, so the decimal N / 10^d reads back as
// v; with at most `precision` digits it is then v rounded to that many digits (see
// above), written in plain form since its exponent lies between -4 and precision - 1.
bool AppendFewDecimalsG(std::string& out, double v, int precision, char decimalSeparator) {
  if (precision > 15 || precision < 1 || std::fpclassify(v) != FP_NORMAL) return false;
  double magnitude = v < 0 ? -v : v;
  double limit = kPowersOfTen[precision];
  if (magnitude >= limit) return false;
  for (int d = 0; d <= 15; ++d) {
    double scaled = magnitude * kPowersOfTen[d];
    if (scaled + 0.5 >= limit) return false;  // more than `precision` digits
    // Below 10^15: the signed conversion is exact and cheaper than the unsigned one.
    const auto n = std::uint64_t(std::int64_t(scaled + 0.5));
    if (double(std::int64_t(n)) / kPowersOfTen[d] != magnitude) continue;
    if (n * 10000 < kIntPowersOfTen[d]) return false;  // below 1E-4: exponent form
    char text[48];
    char* t = text;
    if (v < 0) *t++ = '-';
    auto r = std::to_chars(t, text + sizeof text, n / kIntPowersOfTen[d]);
    t = r.ptr;
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
    out.append(text, std::size_t(t - text));
    return true;
  }
  return false;
}

}  // namespace

void AppendFloatG(std::string& out, double v, int precision, const FormatSettings& fs) {
  if (AppendFewDecimalsG(out, v, precision, fs.DecimalSeparator)) return;
  if (AppendShortestG(out, v, precision, fs.DecimalSeparator)) return;
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

std::string FormatDateTime(std::string_view pattern, TDateTime dt, const FormatSettings& fs) {
  int year, month, day, hour, minute, second, ms;
  DecodeDate(dt, year, month, day);
  DecodeTime(dt, hour, minute, second, ms);
  // A 12-hour clock when the pattern holds a designator.
  bool twelve = false;
  for (std::size_t i = 0; i < pattern.size(); ++i)
    if (StartsWithNoCase(pattern.substr(i), "am/pm") ||
        StartsWithNoCase(pattern.substr(i), "a/p") || StartsWithNoCase(pattern.substr(i), "ampm"))
      twelve = true;
  std::string out;
  bool afterHour = false;
  std::size_t i = 0;
  while (i < pattern.size()) {
    char c = pattern[i];
    char u = UpperAscii(c);
    std::size_t run = 1;
    while (i + run < pattern.size() && UpperAscii(pattern[i + run]) == u) ++run;
    std::string_view rest = pattern.substr(i);
    if (c == '"' || c == '\'') {
      std::size_t end = pattern.find(c, i + 1);
      if (end == std::string_view::npos) end = pattern.size();
      out.append(pattern.substr(i + 1, end - i - 1));
      i = end + 1;
      continue;
    }
    if (StartsWithNoCase(rest, "am/pm")) {
      bool lower = rest[0] == 'a';
      out += hour >= 12 ? (lower ? "pm" : "PM") : (lower ? "am" : "AM");
      i += 5;
      continue;
    }
    if (StartsWithNoCase(rest, "a/p")) {
      bool lower = rest[0] == 'a';
      out += hour >= 12 ? (lower ? 'p' : 'P') : (lower ? 'a' : 'A');
      i += 3;
      continue;
    }
    if (StartsWithNoCase(rest, "ampm")) {
      out += hour >= 12 ? fs.TimePMString : fs.TimeAMString;
      i += 4;
      continue;
    }
    int h12 = hour % 12 == 0 ? 12 : hour % 12;
    switch (u) {
      case 'Y':
        if (run <= 2)
          AppendPadded(out, year % 100, 2);
        else
          AppendPadded(out, year, 4);
        break;
      case 'M':
        if (afterHour && run <= 2)
          AppendPadded(out, minute, int(run));
        else if (run <= 2)
          AppendPadded(out, month, int(run));
        else if (run == 3)
          out += fs.ShortMonthNames[std::size_t(month - 1)];
        else
          out += fs.LongMonthNames[std::size_t(month - 1)];
        break;
      case 'D':
        AppendPadded(out, day, run >= 2 ? 2 : 1);
        break;
      case 'H':
        AppendPadded(out, twelve ? h12 : hour, run >= 2 ? 2 : 1);
        break;
      case 'N':
        AppendPadded(out, minute, run >= 2 ? 2 : 1);
        break;
      case 'S':
        AppendPadded(out, second, run >= 2 ? 2 : 1);
        break;
      case 'Z':
        AppendPadded(out, ms, run >= 3 ? 3 : 1);
        break;
      case '/':
        out.append(run, fs.DateSeparator);
        break;
      case ':':
        out.append(run, fs.TimeSeparator);
        break;
      default:
        out.append(pattern.substr(i, run));
        break;
    }
    if (u == 'H')
      afterHour = true;
    else if (u != ' ' && u != ':')
      afterHour = false;
    i += run;
  }
  return out;
}

void AppendDateTimeText(std::string& out, TDateTime dt, const FormatSettings& fs) {
  double dayPart = std::trunc(dt);
  double frac = dt - dayPart;
  if (dayPart == 0) {
    out += FormatDateTime(fs.LongTimeFormat, dt, fs);
  } else if (frac == 0) {
    out += FormatDateTime(fs.ShortDateFormat, dt, fs);
  } else {
    out += FormatDateTime(fs.ShortDateFormat, dt, fs);
    out += ' ';
    out += FormatDateTime(fs.LongTimeFormat, dt, fs);
  }
}

// ---------------------------------------------------------------- calendar

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  int leap = IsLeapYear(year) ? 1 : 0;
  long long y = year - 1;
  long long days = y * 365 + y / 4 - y / 100 + y / 400 + kDaysBefore[leap][month - 1] + day;
  out = double(days - 693594);  // 693594 = days from 0001-01-01 to 1899-12-30, plus one
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime r;
  if (!TryEncodeDate(year, month, day, r)) throw EConvertError("Invalid argument to date encode");
  return r;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& out) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    return false;
  out = (double(hour) * 3600000.0 + double(minute) * 60000.0 + double(second) * 1000.0 +
         double(millisecond)) /
        86400000.0;
  return true;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  TDateTime r;
  if (!TryEncodeTime(hour, minute, second, millisecond, r))
    throw EConvertError("Invalid argument to time encode");
  return r;
}

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
  if (!std::isfinite(dt) || dt < -693593.0 || dt > 2958466.0) {
    year = month = day = 0;
    return;
  }
  long long days = (long long)std::trunc(dt) + 693593;  // days since 0001-01-01
  long long y400 = days / 146097, r = days % 146097;
  long long y100 = r / 36524;
  if (y100 == 4) y100 = 3;
  r -= y100 * 36524;
  long long y4 = r / 1461;
  r %= 1461;
  long long y1 = r / 365;
  if (y1 == 4) y1 = 3;
  r -= y1 * 365;
  year = int(y400 * 400 + y100 * 100 + y4 * 4 + y1 + 1);
  int leap = IsLeapYear(year) ? 1 : 0;
  month = 1;
  while (month < 12 && r >= kDaysBefore[leap][month]) ++month;
  day = int(r - kDaysBefore[leap][month - 1]) + 1;
}

void DecodeTime(TDateTime dt, int& hour, int& minute, int& second, int& millisecond) {
  if (!std::isfinite(dt)) {
    hour = minute = second = millisecond = 0;
    return;
  }
  double frac = std::fabs(dt - std::trunc(dt));
  long long ms = (long long)std::llround(frac * 86400000.0);
  if (ms >= 86400000) ms = 86399999;
  hour = int(ms / 3600000);
  minute = int(ms / 60000 % 60);
  second = int(ms / 1000 % 60);
  millisecond = int(ms % 1000);
}

bool TryClarionDate(std::int64_t days, TDateTime& out) {
  static const TDateTime kDayZero = EncodeDate(1800, 12, 28);
  static const std::int64_t kLast = std::int64_t(EncodeDate(9999, 12, 31) - kDayZero);
  if (days < 1 || days > kLast) return false;
  out = kDayZero + double(days);
  return true;
}

bool TryClarionTime(std::int64_t hundredthsPlusOne, TDateTime& out) {
  if (hundredthsPlusOne < 1 || hundredthsPlusOne > 8640000) return false;
  const std::int64_t h = hundredthsPlusOne - 1;
  return TryEncodeTime(int(h / 360000), int(h / 6000 % 60), int(h / 100 % 60), int(h % 100) * 10,
                       out);
}

double RoundHalfEven(double v) { return std::nearbyint(v); }
