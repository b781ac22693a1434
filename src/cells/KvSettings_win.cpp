// The settings of a Windows locale, read through GetLocaleInfoA; the program reads those
// of the user's default locale, the user's own changes included. Each item that cannot be
// read keeps its ISO form.
#include <windows.h>

#include "cells/KvLocaleItems.h"
#include "cells/KvLocalePicture.h"
#include "cells/KvSettings.h"
#include "cells/KvSettingsWin.h"

namespace {

// Reads the items of one locale.
class TLocaleReader {
 public:
  TLocaleReader(LCID locale, bool userOverrides)
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
  const TLocaleReader read(LCID(locale), userOverrides);
  TLocaleItems items;
  items.DecimalSeparator = read.Char(LOCALE_SDECIMAL);
  items.ThousandSeparator = read.Char(LOCALE_STHOUSAND);
  items.CurrencyString = read.Text(LOCALE_SCURRENCY);

  bool twelve = false;
  if (char c = read.Char(LOCALE_SDATE)) items.DateSeparator = c;
  items.ShortDateFormat =
      ConvertLocalePicture(read.Text(LOCALE_SSHORTDATE), '/', items.DateSeparator, twelve);
  if (char c = read.Char(LOCALE_STIME)) items.TimeSeparator = c;
  items.LongTimeFormat =
      ConvertLocalePicture(read.Text(LOCALE_STIMEFORMAT), ':', items.TimeSeparator, twelve);
  items.TwelveHour = twelve;

  items.TimeRead = true;
  items.TimeAMString = read.Text(LOCALE_S1159);
  items.TimePMString = read.Text(LOCALE_S2359);
  for (int i = 0; i < 12; ++i) {
    items.ShortMonthNames[std::size_t(i)] = read.Text(LCTYPE(LOCALE_SABBREVMONTHNAME1 + i));
    items.LongMonthNames[std::size_t(i)] = read.Text(LCTYPE(LOCALE_SMONTHNAME1 + i));
  }
  return SettingsFromLocale(items);
}
