#include "cells/KvDateTextCache.h"

#include <array>
#include <cmath>
#include <cstring>

#include "cells/KvConvert.h"

// A time of day alone (day 0) is known by its hours, minutes and seconds when the time
// form shows no milliseconds, since that is all its text can depend on; a table with
// many of them gets one text per second of the day. Other values go through a small
// table of recent values.

namespace {

constexpr std::uint32_t kSecondsPerDay = 86400;

// The two decimal digits of a value below 100.
char* Pair(char* at, std::uint32_t v) {
  std::memcpy(at, kDigitPairs.data() + 2 * v, 2);
  return at + 2;
}

// The last two decimal digits of a value that is not negative.
char* Two(char* at, int v) { return Pair(at, std::uint32_t(v % 100)); }

}  // namespace

TDateTextCache::TDateTextCache(const FormatSettings& settings)
    : settings_(settings),
      timeByClock_(settings.LongTimeFormat.find_first_of("zZ") == std::string::npos) {
  // The usual numeric forms are put together from the calendar's parts directly, once
  // they are seen to give the same texts as the settings' own formatting.
  plainTime_ = settings.LongTimeFormat == "hh:nn:ss";
  plainDate_ = settings.ShortDateFormat == "yyyy-mm-dd" || settings.ShortDateFormat == "yyyy/mm/dd";
  dateSeparator_ = settings.ShortDateFormat[4] == '/' ? settings.DateSeparator : '-';
  for (double v : {1.0, 43481.0, 2958465.0, -693593.0, 1.0 / 86400, 0.5, 0.9999, 0.9268634,
                   43481.75, -3.25, 12.000001}) {
    std::string fast, want;
    AppendDateTimeText(want, v, settings);
    if (AppendPlain(fast, v) && fast != want) plainTime_ = plainDate_ = false;
  }
}

void TDateTextCache::Append(std::string& out, double value) {
  if ((plainTime_ || plainDate_) && AppendPlain(out, value)) return;
  if (timeByClock_ && value >= 0 && value < 1) {
    int hour, minute, second, ms;
    DecodeTime(value, hour, minute, second, ms);
    if (hour < 24 && minute < 60 && second < 60) {
      const std::uint32_t clock = std::uint32_t(hour * 3600 + minute * 60 + second);
      if (!clockTexts_.empty() || ++clockValues_ > 4096) {
        AppendClock(out, value, clock);
        return;
      }
      AppendRecent(out, value, std::uint64_t(clock), 2);
      return;
    }
  }
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  AppendRecent(out, value, bits, 1);
}

void TDateTextCache::Append(std::string& out, const TKvICellView& cell) {
  if (!AppendParts(out, cell)) Append(out, cell.Real);
}

// AppendPlain's text from the parts the value was made from: encoding a date gives a
// whole day that decodes to the same parts, and encoding a time gives a fraction of the
// day within a millionth of a millisecond of its exact value, which rounds back to the
// same hours, minutes and seconds. Day 0 (1899-12-30) is written as a time of day, so it
// takes the path of the value.
bool TDateTextCache::AppendParts(std::string& out, const TKvICellView& cell) const {
  char text[kPartsTextMax];
  char* const end = WriteParts(text, cell);
  if (!end) return false;
  out.append(text, std::size_t(end - text));
  return true;
}

char* TDateTextCache::WriteParts(char* t, const TKvICellView& cell) const {
  const std::uint32_t parts = std::uint32_t(cell.Int);
  switch (cell.Int & ~std::int64_t(0xFFFFFFFF)) {
    // The parts were checked when decoded: months, days, hours, minutes and seconds
    // are below 100.
    case TKvICellView::kCellDateParts: {
      const std::uint32_t year = parts >> 16;
      if (year < 1000 || year > 9999 || cell.Real == 0) return nullptr;
      return WriteDate(t, year, (parts >> 8) & 0xFF, parts & 0xFF);
    }
    case TKvICellView::kCellTimeParts:
      return WriteTime(t, parts >> 24, (parts >> 16) & 0xFF, (parts >> 8) & 0xFF);
    default:
      return nullptr;
  }
}

char* TDateTextCache::WriteDate(char* t, std::uint32_t year, std::uint32_t month,
                                std::uint32_t day) const {
  if (!plainDate_) return nullptr;
  t = Pair(t, year / 100);
  t = Pair(t, year % 100);
  *t++ = dateSeparator_;
  t = Pair(t, month);
  *t++ = dateSeparator_;
  return Pair(t, day);
}

char* TDateTextCache::WriteTime(char* t, std::uint32_t hour, std::uint32_t minute,
                                std::uint32_t second) const {
  if (!plainTime_) return nullptr;
  t = Pair(t, hour);
  *t++ = settings_.TimeSeparator;
  t = Pair(t, minute);
  *t++ = settings_.TimeSeparator;
  return Pair(t, second);
}

// The text of the value in the plain numeric forms; false when it needs a form that is
// not plain (nothing is appended then). Put together in a small buffer and appended at
// once.
bool TDateTextCache::AppendPlain(std::string& out, double value) const {
  if (!std::isfinite(value)) return false;
  const double day = std::trunc(value);
  const bool timeOnly = day == 0, dateOnly = value - day == 0 && !timeOnly;
  if ((!timeOnly && !plainDate_) || (!dateOnly && !plainTime_)) return false;
  char text[24];
  char* t = text;
  if (!timeOnly) {
    int year, month, dayOfMonth;
    DecodeDate(value, year, month, dayOfMonth);
    if (year < 1000 || year > 9999) return false;
    t = Two(t, year / 100);
    t = Two(t, year % 100);
    *t++ = dateSeparator_;
    t = Two(t, month);
    *t++ = dateSeparator_;
    t = Two(t, dayOfMonth);
    if (dateOnly) {
      out.append(text, std::size_t(t - text));
      return true;
    }
    *t++ = ' ';
  }
  int hour, minute, second, ms;
  DecodeTime(value, hour, minute, second, ms);
  t = Two(t, hour);
  *t++ = settings_.TimeSeparator;
  t = Two(t, minute);
  *t++ = settings_.TimeSeparator;
  t = Two(t, second);
  out.append(text, std::size_t(t - text));
  return true;
}

void TDateTextCache::AppendClock(std::string& out, double value, std::uint32_t clock) {
  if (clockTexts_.empty()) clockTexts_.assign(kSecondsPerDay, {0, 0});
  auto& slot = clockTexts_[clock];
  if (slot.second == 0) {
    text_.clear();
    AppendDateTimeText(text_, value, settings_);
    if (text_.empty() || text_.size() > 255) {
      out += text_;
      return;
    }
    slot = {std::uint32_t(clockArena_.size()), std::uint8_t(text_.size())};
    clockArena_ += text_;
  }
  out.append(clockArena_, slot.first, slot.second);
}

void TDateTextCache::AppendRecent(std::string& out, double value, std::uint64_t key,
                                  std::uint8_t kind) {
  Entry& e = recent_[(key ^ (key >> 29) ^ (key >> 41)) * 0x9E3779B97F4A7C15ULL >> shift_];
  if (e.Kind != kind || e.Key != key) {
    // Many different values: a larger table, up to 2^14 entries.
    if (++misses_ > 2 * recent_.size() && shift_ > 50) {
      shift_ -= 2;
      recent_.assign(std::size_t(1) << (64 - shift_), Entry{});
      misses_ = 0;
      AppendRecent(out, value, key, kind);
      return;
    }
    text_.clear();
    AppendDateTimeText(text_, value, settings_);
    if (text_.size() > sizeof e.Text) {
      out += text_;
      return;
    }
    e.Key = key;
    e.Kind = kind;
    e.Length = std::uint8_t(text_.size());
    std::memcpy(e.Text, text_.data(), text_.size());
  }
  out.append(e.Text, e.Length);
}
