// The user's settings from the POSIX locale named by the environment, read through
// newlocale and nl_langinfo_l.
#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "cells/KvLocaleItems.h"
#include "cells/KvSettings.h"

namespace {

bool IsPlainLocaleName(std::string_view name) {
  return name.empty() || name == "C" || name == "POSIX" || name.substr(0, 2) == "C.";
}

// The locale name that governs a category, as setlocale would pick it.
std::string LocaleNameFor(const char* categoryVar) {
  for (const char* var : {"LC_ALL", categoryVar, "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) return v;
  }
  return "";
}

// Converts a strftime date or time form into this program's pattern letters and
// reports the separator it uses. Years always get four digits: a two-digit year
// would lose data in an export.
std::string ConvertStrftime(const char* fmt, char& separator, bool& twelveHour) {
  std::string out;
  twelveHour = false;
  for (const char* p = fmt; *p; ++p) {
    if (*p != '%') {
      if (*p == '/' || *p == '.' || *p == '-' || *p == ':') {
        separator = *p;
        out += (*p == ':') ? ':' : '/';
      } else {
        out += *p;
      }
      continue;
    }
    ++p;
    while (*p == 'E' || *p == 'O' || *p == '-' || *p == '_' || *p == '0') ++p;
    switch (*p) {
      case 'd':
        out += "dd";
        break;
      case 'e':
        out += "d";
        break;
      case 'm':
        out += "mm";
        break;
      case 'b':
      case 'h':
        out += "mmm";
        break;
      case 'B':
        out += "mmmm";
        break;
      case 'y':
      case 'Y':
      case 'C':
        out += "yyyy";
        break;
      case 'H':
        out += "hh";
        break;
      case 'k':
        out += "h";
        break;
      case 'I':
        out += "hh";
        twelveHour = true;
        break;
      case 'l':
        out += "h";
        twelveHour = true;
        break;
      case 'M':
        out += "nn";
        break;
      case 'S':
        out += "ss";
        break;
      case 'p':
      case 'P':
        out += "ampm";
        twelveHour = true;
        break;
      case 'T':
        out += "hh:nn:ss";
        separator = ':';
        break;
      case 'R':
        out += "hh:nn";
        separator = ':';
        break;
      case 'D':
        out += "mm/dd/yyyy";
        separator = '/';
        break;
      case 'F':
        out += "yyyy/mm/dd";
        separator = '-';
        break;
      case '\0':
        return out;
      default:
        break;
    }
  }
  return out;
}

}  // namespace

FormatSettings ReadSystemSettings() {
  TLocaleItems items;
  // A one-character text, or 0.
  auto single = [](const char* text) { return text && std::strlen(text) == 1 ? text[0] : '\0'; };

  std::string numericName = LocaleNameFor("LC_NUMERIC");
  if (!IsPlainLocaleName(numericName)) {
    if (locale_t loc =
            newlocale(LC_NUMERIC_MASK | LC_MONETARY_MASK, numericName.c_str(), nullptr)) {
      items.DecimalSeparator = single(nl_langinfo_l(RADIXCHAR, loc));
      items.ThousandSeparator = single(nl_langinfo_l(THOUSEP, loc));
      // The first character tells where the symbol goes.
      const char* currency = nl_langinfo_l(CRNCYSTR, loc);
      if (currency && std::strlen(currency) > 1) items.CurrencyString = currency + 1;
      freelocale(loc);
    }
  }

  std::string timeName = LocaleNameFor("LC_TIME");
  if (!IsPlainLocaleName(timeName)) {
    if (locale_t loc = newlocale(LC_TIME_MASK, timeName.c_str(), nullptr)) {
      bool twelve = false;
      items.ShortDateFormat =
          ConvertStrftime(nl_langinfo_l(D_FMT, loc), items.DateSeparator, twelve);
      items.LongTimeFormat =
          ConvertStrftime(nl_langinfo_l(T_FMT, loc), items.TimeSeparator, twelve);
      items.TwelveHour = twelve;
      items.TimeRead = true;
      items.TimeAMString = nl_langinfo_l(AM_STR, loc);
      items.TimePMString = nl_langinfo_l(PM_STR, loc);
      for (int i = 0; i < 12; ++i) {
        const char* ab = nl_langinfo_l(nl_item(ABMON_1 + i), loc);
        const char* full = nl_langinfo_l(nl_item(MON_1 + i), loc);
        if (ab) items.ShortMonthNames[std::size_t(i)] = ab;
        if (full) items.LongMonthNames[std::size_t(i)] = full;
      }
      freelocale(loc);
    }
  }
  return SettingsFromLocale(items);
}
