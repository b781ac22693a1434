#include "cells/KvSettings.h"

#include "cells/KvLocaleItems.h"

// The platform's reading of the user's settings (ReadSystemSettings) is in
// KvSettings_posix.cpp and KvSettings_win.cpp; what they read is completed here.

namespace {

FormatSettings& Current() {
  static FormatSettings current = FormatSettings::Iso();
  return current;
}

}  // namespace

FormatSettings FormatSettings::Iso() { return FormatSettings(); }

FormatSettings FormatSettings::UnitedStates() {
  FormatSettings fs;
  fs.DecimalSeparator = '.';
  fs.ThousandSeparator = ',';
  fs.CurrencyString = "$";
  fs.DateSeparator = '/';
  fs.TimeSeparator = ':';
  fs.ShortDateFormat = "m/d/yyyy";
  fs.LongTimeFormat = "h:nn:ss ampm";
  fs.TimeAMString = "AM";
  fs.TimePMString = "PM";
  return fs;
}

const FormatSettings& CurrentSettings() { return Current(); }

void SetCurrentSettings(const FormatSettings& settings) { Current() = settings; }

void LoadSystemSettings() { SetCurrentSettings(ReadSystemSettings()); }

ScopedSettings::ScopedSettings(const FormatSettings& settings) : saved_(CurrentSettings()) {
  SetCurrentSettings(settings);
}

ScopedSettings::~ScopedSettings() { SetCurrentSettings(saved_); }

FormatSettings SettingsFromLocale(const TLocaleItems& items) {
  FormatSettings fs = FormatSettings::Iso();
  if (items.DecimalSeparator != 0) fs.DecimalSeparator = items.DecimalSeparator;
  if (items.ThousandSeparator != 0)
    fs.ThousandSeparator = items.ThousandSeparator;
  else
    fs.ThousandSeparator = fs.DecimalSeparator == ',' ? '.' : ',';
  if (fs.ThousandSeparator == fs.DecimalSeparator)
    fs.ThousandSeparator = fs.DecimalSeparator == ',' ? '.' : ',';
  if (!items.CurrencyString.empty()) fs.CurrencyString = items.CurrencyString;

  const std::string& date = items.ShortDateFormat;
  if (date.find('y') != std::string::npos && date.find('d') != std::string::npos) {
    fs.ShortDateFormat = date;
    fs.DateSeparator = items.DateSeparator;
  }
  if (items.LongTimeFormat.find('h') != std::string::npos) {
    fs.LongTimeFormat = items.LongTimeFormat;
    fs.TimeSeparator = items.TimeSeparator;
  }
  if (items.TimeRead) {
    fs.TimeAMString = items.TimeAMString;
    fs.TimePMString = items.TimePMString;
    if (items.TwelveHour && (fs.TimeAMString.empty() || fs.TimePMString.empty())) {
      fs.TimeAMString = "AM";
      fs.TimePMString = "PM";
    }
  }
  for (std::size_t i = 0; i < 12; ++i) {
    if (!items.ShortMonthNames[i].empty()) fs.ShortMonthNames[i] = items.ShortMonthNames[i];
    if (!items.LongMonthNames[i].empty()) fs.LongMonthNames[i] = items.LongMonthNames[i];
  }
  return fs;
}
