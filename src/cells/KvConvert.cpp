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
  return TrimEnd(TrimStart(s, IsBlank), IsBlank);
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
    return !designator.empty() && StartsWithTextAscii(rest, designator);
  };
  if (match(fs.TimePMString)) {
    pm = true;
    q += fs.TimePMString.size();
  } else if (match(fs.TimeAMString)) {
    am = true;
    q += fs.TimeAMString.size();
  } else if (StartsWithTextAscii(rest, "PM")) {
    pm = true;
    q += 2;
  } else if (StartsWithTextAscii(rest, "AM")) {
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

