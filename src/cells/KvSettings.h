// Regional settings: the one object that holds the user's number, date and time
// conventions. It is loaded once at program start (LoadSystemSettings) and reached
// through CurrentSettings(); tests build their own objects and install them with
// ScopedSettings or pass them explicitly.
#pragma once

#include <array>
#include <string>

struct FormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  std::string CurrencyString = "$";
  char DateSeparator = '-';
  char TimeSeparator = ':';
  // Patterns in the letters of FormatDateTime (KvConvert.h): y, m, d, h, n, s, z,
  // "am/pm"; "/" and ":" stand for the date and time separators.
  std::string ShortDateFormat = "yyyy/mm/dd";
  std::string LongTimeFormat = "hh:nn:ss";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> LongMonthNames{"January",   "February", "March",    "April",
                                             "May",       "June",     "July",     "August",
                                             "September", "October",  "November", "December"};

  // ISO forms: decimal ".", thousands ",", "$", yyyy-mm-dd, 24-hour hh:nn:ss.
  static FormatSettings Iso();
  // A US-style object: m/d/yyyy and h:nn:ss am/pm; used by tests.
  static FormatSettings UnitedStates();
};

// The process-wide settings (ISO until LoadSystemSettings runs).
const FormatSettings& CurrentSettings();
void SetCurrentSettings(const FormatSettings& settings);

// Reads the user's locale from the environment (LC_ALL, LC_NUMERIC, LC_TIME, LANG)
// through the C library. C, POSIX (C.UTF-8 included) or an unloadable locale give
// the ISO forms.
FormatSettings ReadSystemSettings();
void LoadSystemSettings();

// Installs settings for the lifetime of the object, then restores the previous ones.
class ScopedSettings {
 public:
  explicit ScopedSettings(const FormatSettings& settings);
  ~ScopedSettings();
  ScopedSettings(const ScopedSettings&) = delete;
  ScopedSettings& operator=(const ScopedSettings&) = delete;

 private:
  FormatSettings saved_;
};
