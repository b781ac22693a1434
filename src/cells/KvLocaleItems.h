// What the platform reads of the user's locale (KvSettings_posix.cpp, KvSettings_win.cpp),
// and the one place where those items are checked and completed (KvSettings.cpp).
#pragma once

#include <array>
#include <string>

#include "cells/KvSettings.h"

// An item that could not be read is left empty (or 0).
struct TLocaleItems {
  char DecimalSeparator = 0;
  char ThousandSeparator = 0;
  std::string CurrencyString;
  // Patterns already in FormatDateTime's letters, each with the separator it uses (the
  // ISO one when the locale names none).
  std::string ShortDateFormat;
  char DateSeparator = FormatSettings::Iso().DateSeparator;
  std::string LongTimeFormat;
  char TimeSeparator = FormatSettings::Iso().TimeSeparator;
  bool TwelveHour = false;  // the time pattern shows a 12-hour clock
  // The time items were read: the designators below replace the ISO ones, even empty.
  bool TimeRead = false;
  std::string TimeAMString, TimePMString;
  std::array<std::string, 12> ShortMonthNames, LongMonthNames;
};

// The ISO settings with the usable items: a thousands separator that is missing or
// equals the decimal one becomes the other of "." and ","; a date pattern needs a year
// and a day, a time pattern an hour; a 12-hour clock without designators gets AM and PM;
// empty names keep the ISO ones.
FormatSettings SettingsFromLocale(const TLocaleItems& items);
