// The calendar of TDateTime values (days since 1899-12-30, the time as the fraction),
// Clarion day numbers, and date and time text by pattern.
#include "cells/KvConvert.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>

#include "cells/KvExceptions.h"
#include "cells/KvText.h"

namespace {

constexpr int kDaysBefore[2][13] = {{0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
                                    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366}};

void AppendPadded(std::string& out, long long v, int width) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v < 0 ? -v : v);
  int len = int(r.ptr - buf);
  if (v < 0) out += '-';
  for (int i = len; i < width; ++i) out += '0';
  out.append(buf, std::size_t(len));
}

}  // namespace

std::string FormatDateTime(std::string_view pattern, TDateTime dt, const FormatSettings& fs) {
  int year, month, day, hour, minute, second, ms;
  DecodeDate(dt, year, month, day);
  DecodeTime(dt, hour, minute, second, ms);
  // A 12-hour clock when the pattern holds a designator.
  bool twelve = false;
  for (std::size_t i = 0; i < pattern.size(); ++i)
    if (StartsWithTextAscii(pattern.substr(i), "am/pm") ||
        StartsWithTextAscii(pattern.substr(i), "a/p") || StartsWithTextAscii(pattern.substr(i), "ampm"))
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
    if (StartsWithTextAscii(rest, "am/pm")) {
      bool lower = rest[0] == 'a';
      out += hour >= 12 ? (lower ? "pm" : "PM") : (lower ? "am" : "AM");
      i += 5;
      continue;
    }
    if (StartsWithTextAscii(rest, "a/p")) {
      bool lower = rest[0] == 'a';
      out += hour >= 12 ? (lower ? 'p' : 'P') : (lower ? 'a' : 'A');
      i += 3;
      continue;
    }
    if (StartsWithTextAscii(rest, "ampm")) {
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

bool IsValidDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  if (day <= 28) return true;  // every month has 28 days
  const int* before = kDaysBefore[IsLeapYear(year) ? 1 : 0];
  return day <= before[month] - before[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (!IsValidDate(year, month, day)) return false;
  const int* before = kDaysBefore[IsLeapYear(year) ? 1 : 0];
  const int y = year - 1;  // below 3.7 million days: int suffices
  const int days = y * 365 + y / 4 - y / 100 + y / 400 + before[month - 1] + day;
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
