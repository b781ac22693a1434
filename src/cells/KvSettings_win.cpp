// The settings of a Windows locale, read through GetLocaleInfoA; the program reads those
// of the user's default locale, the user's own changes included. Each item that cannot be
// read keeps its ISO form.
#include <windows.h>

#include "cells/KvLocalePicture.h"
#include "cells/KvSettings.h"
#include "cells/KvSettingsWin.h"

namespace {

// Reads the items of one locale.
class TLocaleItems {
 public:
  TLocaleItems(LCID locale, bool userOverrides)
      : locale_(locale), flags_(userOverrides ? 0 : LOCALE_NOUSEROVERRIDE) {}

  // One item as 8-bit text in the user's ANSI code page; "" when unreadable.
  std::string Text(LCTYPE item) const {
    char buf[256];
    const int got = GetLocaleInfoA(locale_, item | flags_, buf, int(sizeof buf));
    if (got <= 1) return "";
    return std::string(buf, std::size_t(got - 1));
  }

  // A one-character item (decimal, thousands, date and time separators), or 0.
  char Char(LCTYPE item) const {
    const std::string text = Text(item);
    return text.size() == 1 ? text[0] : '\0';
  }

 private:
  LCID locale_;
  LCTYPE flags_;
};

}  // namespace

FormatSettings ReadSystemSettings() { return ReadLocaleSettings(LOCALE_USER_DEFAULT, true); }

FormatSettings ReadLocaleSettings(unsigned long locale, bool userOverrides) {
  const TLocaleItems items(LCID(locale), userOverrides);
  auto LocaleText = [&](LCTYPE item) { return items.Text(item); };
  auto LocaleChar = [&](LCTYPE item) { return items.Char(item); };
  FormatSettings fs = FormatSettings::Iso();

  if (char c = LocaleChar(LOCALE_SDECIMAL)) fs.DecimalSeparator = c;
  if (char c = LocaleChar(LOCALE_STHOUSAND))
    fs.ThousandSeparator = c;
  else
    fs.ThousandSeparator = fs.DecimalSeparator == ',' ? '.' : ',';
  if (fs.ThousandSeparator == fs.DecimalSeparator)
    fs.ThousandSeparator = fs.DecimalSeparator == ',' ? '.' : ',';
  if (std::string currency = LocaleText(LOCALE_SCURRENCY); !currency.empty())
    fs.CurrencyString = currency;

  bool twelve = false;
  char dateSep = LocaleChar(LOCALE_SDATE);
  if (dateSep == '\0') dateSep = fs.DateSeparator;
  const std::string datePattern =
      ConvertLocalePicture(LocaleText(LOCALE_SSHORTDATE), '/', dateSep, twelve);
  if (datePattern.find('y') != std::string::npos && datePattern.find('d') != std::string::npos) {
    fs.ShortDateFormat = datePattern;
    fs.DateSeparator = dateSep;
  }
  char timeSep = LocaleChar(LOCALE_STIME);
  if (timeSep == '\0') timeSep = fs.TimeSeparator;
  const std::string timePattern =
      ConvertLocalePicture(LocaleText(LOCALE_STIMEFORMAT), ':', timeSep, twelve);
  if (timePattern.find('h') != std::string::npos) {
    fs.LongTimeFormat = timePattern;
    fs.TimeSeparator = timeSep;
  }

  fs.TimeAMString = LocaleText(LOCALE_S1159);
  fs.TimePMString = LocaleText(LOCALE_S2359);
  if (twelve && (fs.TimeAMString.empty() || fs.TimePMString.empty())) {
    fs.TimeAMString = "AM";
    fs.TimePMString = "PM";
  }
  for (int i = 0; i < 12; ++i) {
    const std::string shortName = LocaleText(LCTYPE(LOCALE_SABBREVMONTHNAME1 + i));
    const std::string longName = LocaleText(LCTYPE(LOCALE_SMONTHNAME1 + i));
    if (!shortName.empty()) fs.ShortMonthNames[std::size_t(i)] = shortName;
    if (!longName.empty()) fs.LongMonthNames[std::size_t(i)] = longName;
  }
  return fs;
}
