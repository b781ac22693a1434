#include "cells/KvSettings.h"

// The platform's reading of the user's settings (ReadSystemSettings) is in
// KvSettings_posix.cpp and KvSettings_win.cpp.

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
