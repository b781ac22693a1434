// Date/time recognition under a letter pattern, and separated-list splitting.
#include "expr/KvIParsDateText.h"

#include <algorithm>
#include <cstddef>

#include "cells/KvConvert.h"
#include "cells/KvSettings.h"
#include "cells/KvText.h"

namespace {

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

// The parts a pattern letter can name.
struct DateTimeParts {
  std::string day, month, year, hour, minute, second, millisecond;

  std::string* For(char letter) {
    switch (letter) {
      case 'D':
        return &day;
      case 'M':
        return &month;
      case 'Y':
        return &year;
      case 'H':
        return &hour;
      case 'N':
        return &minute;
      case 'S':
        return &second;
      case 'Z':
        return &millisecond;
      default:
        return nullptr;
    }
  }
};

constexpr const char* kEnglishShortMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                 "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
constexpr const char* kEnglishLongMonths[12] = {"JANUARY",   "FEBRUARY", "MARCH",    "APRIL",
                                                "MAY",       "JUNE",     "JULY",     "AUGUST",
                                                "SEPTEMBER", "OCTOBER",  "NOVEMBER", "DECEMBER"};

// A month written as a number (one or two characters) or as a name: the English
// names are always known, the locale's names as well. 0 when nothing matches.
int MonthFromText(const std::string& text, const FormatSettings& fs) {
  if (text.size() <= 2) return StrToInt(text);
  const std::string upper = UpperAscii(text);
  for (int k = 0; k < 12; ++k) {
    if (upper == kEnglishShortMonths[k] || upper == kEnglishLongMonths[k] ||
        upper == UpperAscii(fs.ShortMonthNames[k]) || upper == UpperAscii(fs.LongMonthNames[k])) {
      return k + 1;
    }
  }
  return 0;
}

}  // namespace

TDateTime DateTimeFromText(std::string_view textIn, std::string_view patternIn, char dateSep,
                           char timeSep) {
  const FormatSettings& fs = CurrentSettings();
  std::string text(textIn);
  std::string pattern = UpperAscii(std::string(patternIn));
  auto isSep = [dateSep, timeSep](char c) {
    return c == ' ' || c == '.' || c == '/' || c == ':' || c == dateSep || c == timeSep;
  };

  // A text without the date separator holds no date: drop the pattern's date half.
  if (text.find(dateSep) == std::string::npos) {
    const std::size_t space = pattern.find(' ');
    if (space != std::string::npos && space >= 1) pattern.erase(0, space + 1);
  }

  const std::string upperText = UpperAscii(text);
  const bool pm = fs.TimePMString.empty() ? (Contains(text, "PM") || Contains(text, "pm"))
                                          : Contains(upperText, UpperAscii(fs.TimePMString));
  const bool am = fs.TimeAMString.empty() ? Contains(upperText, "AM")
                                          : Contains(upperText, UpperAscii(fs.TimeAMString));

  // Where the text has a separator and the pattern a letter, the pattern loses the
  // letter (a one-digit day under "DD"). The index moves on after a deletion too.
  const std::size_t textLength = text.size();
  for (std::size_t i = 0; i < textLength; ++i) {
    if (isSep(text[i]) && i < pattern.size() && !isSep(pattern[i])) pattern.erase(i, 1);
  }
  // And the other way round: the text loses what faces a pattern separator.
  const std::size_t patternLength = pattern.size();
  for (std::size_t i = 0; i < patternLength; ++i) {
    if (isSep(pattern[i]) && i < text.size() && !isSep(text[i])) text.erase(i, 1);
  }

  DateTimeParts parts;
  const std::size_t common = std::min(text.size(), pattern.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (isSep(text[i])) continue;
    if (std::string* part = parts.For(pattern[i])) *part += text[i];
  }

  TDateTime result = 0;
  if (!parts.day.empty() && !parts.month.empty() && !parts.year.empty()) {
    const int day = StrToInt(parts.day);
    const int month = MonthFromText(parts.month, fs);
    int year = StrToInt(parts.year);
    if (day >= 1 && day <= 31 && month >= 1 && month <= 12) {
      // Two-digit years fall into the hundred years around the current one.
      if (year < 100) {
        const int pivot = static_cast<int>(CurrentYear()) - 50;
        year += (pivot / 100) * 100;
        if (year < pivot) year += 100;
      }
      result = EncodeDate(year, month, day);
    }
  }

  if (!parts.hour.empty() && !parts.minute.empty()) {
    int hour = StrToInt(parts.hour);
    const int minute = StrToInt(parts.minute);
    const int second = parts.second.empty() ? 0 : StrToInt(parts.second);
    const int millisecond =
        (parts.millisecond.empty() || parts.millisecond == "Z") ? 0 : StrToInt(parts.millisecond);
    if (pm && hour < 12) {
      hour += 12;
    } else if (am && hour == 12) {
      hour = 0;
    }
    if (hour >= 0 && hour <= 24 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59 &&
        millisecond >= 0 && millisecond <= 999) {
      result += EncodeTime(hour, minute, second, millisecond);
    }
  }
  return result;
}

std::string ExtractToken(char sep, std::string& s, bool stopAtSemicolon) {
  std::string item;
  std::size_t passed = 0;
  while (passed < s.size()) {
    const char c = s[passed];
    if (c == sep) {
      ++passed;
      break;
    }
    if (stopAtSemicolon && c == ';') {
      passed = s.size();
      break;
    }
    item += c;
    ++passed;
  }
  s.erase(0, passed);
  item.resize(TrimEnd(item, [](char c) { return static_cast<unsigned char>(c) <= 32; }).size());
  return item;
}

std::uint16_t CurrentYear() {
  int year = 0, month = 0, day = 0;
  DecodeDate(NowDateTime(), year, month, day);
  return static_cast<std::uint16_t>(year);
}
