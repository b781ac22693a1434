// Date/time recognition under a pattern, list splitting and the current year.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "expr/KvIParsDateText.h"

namespace {

TDateTime At(int y, int m, int d, int h = 0, int n = 0, int s = 0, int z = 0) {
  return EncodeDate(y, m, d) + EncodeTime(h, n, s, z);
}

TDateTime TimeOnly(int h, int n, int s = 0, int z = 0) { return EncodeTime(h, n, s, z); }

// The full year a two-digit year stands for: the one year of the hundred starting
// fifty years before the current one that ends in those two digits.
int WindowYear(int twoDigits) {
  const int first = static_cast<int>(CurrentYear()) - 50;
  for (int y = first; y < first + 100; ++y) {
    if (y % 100 == twoDigits) return y;
  }
  return -1;
}

template <typename Ex, typename F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const Ex& e) {
    return e.Message();
  }
  return "<no exception>";
}

}  // namespace

TEST(DateTimeFromText, WorkedExamples) {
  ScopedSettings iso(FormatSettings::Iso());
  // One-digit day and month and hour under a two-letter pattern, 12-hour clock.
  EXPECT_DOUBLE_EQ(DateTimeFromText("5/1/2020 9:05 PM", "DD/MM/YYYY HH:NN", '/', ':'),
                   At(2020, 1, 5, 21, 5));
  EXPECT_DOUBLE_EQ(DateTimeFromText("2020-01-05 13:45:10", "YYYY-MM-DD HH:NN:SS", '-', ':'),
                   At(2020, 1, 5, 13, 45, 10));
  EXPECT_DOUBLE_EQ(DateTimeFromText("05-Jan-2020", "DD-MMM-YYYY", '-', ':'), At(2020, 1, 5));
  // Pattern letters in any case.
  EXPECT_DOUBLE_EQ(DateTimeFromText("2020-01-05", "yyyy-mm-dd", '-', ':'), At(2020, 1, 5));
}

TEST(DateTimeFromText, TimeOnlyAndDesignators) {
  ScopedSettings iso(FormatSettings::Iso());
  EXPECT_EQ(DateTimeFromText("", "DD/MM/YYYY HH:NN", '/', ':'), 0.0);
  // Day and month collected, but no year: no date.
  EXPECT_EQ(DateTimeFromText("abc", "DD/MM/YYYY", '/', ':'), 0.0);
  // No date separator in the text: the date half of the pattern is dropped.
  EXPECT_DOUBLE_EQ(DateTimeFromText("13:45", "DD/MM/YYYY HH:NN", '/', ':'), TimeOnly(13, 45));
  EXPECT_DOUBLE_EQ(DateTimeFromText("12:30 AM", "HH:NN", '/', ':'), TimeOnly(0, 30));
  EXPECT_DOUBLE_EQ(DateTimeFromText("12:30 PM", "HH:NN", '/', ':'), TimeOnly(12, 30));
  EXPECT_DOUBLE_EQ(DateTimeFromText("1:30 pm", "HH:NN", '/', ':'), TimeOnly(13, 30));
  EXPECT_DOUBLE_EQ(DateTimeFromText("13:45:10.250", "HH:NN:SS.ZZZ", '/', ':'),
                   TimeOnly(13, 45, 10, 250));
  // An ISO time ending in "Z" under the millisecond letter counts as 0 ms.
  EXPECT_DOUBLE_EQ(DateTimeFromText("13:45:10Z", "HH:NN:SSZ", '-', ':'), TimeOnly(13, 45, 10));
  // Minute out of range: no time part, no failure.
  EXPECT_EQ(DateTimeFromText("10:75", "HH:NN", '/', ':'), 0.0);

  FormatSettings noDesignators = FormatSettings::Iso();
  noDesignators.TimeAMString.clear();
  noDesignators.TimePMString.clear();
  {
    ScopedSettings scope(noDesignators);
    EXPECT_DOUBLE_EQ(DateTimeFromText("1:30 pm", "HH:NN", '/', ':'), TimeOnly(13, 30));
    EXPECT_DOUBLE_EQ(DateTimeFromText("1:30 PM", "HH:NN", '/', ':'), TimeOnly(13, 30));
    // Without a designator only "PM" and "pm" count, not "Pm".
    EXPECT_DOUBLE_EQ(DateTimeFromText("1:30 Pm", "HH:NN", '/', ':'), TimeOnly(1, 30));
    EXPECT_DOUBLE_EQ(DateTimeFromText("12:05 am", "HH:NN", '/', ':'), TimeOnly(0, 5));
  }
  FormatSettings spanish = FormatSettings::Iso();
  spanish.TimeAMString = "a.m.";
  spanish.TimePMString = "p.m.";
  {
    ScopedSettings scope(spanish);
    EXPECT_DOUBLE_EQ(DateTimeFromText("9:05 P.M.", "HH:NN", '/', ':'), TimeOnly(21, 5));
    EXPECT_DOUBLE_EQ(DateTimeFromText("9:05", "HH:NN", '/', ':'), TimeOnly(9, 5));
  }
}

TEST(DateTimeFromText, TwoDigitYearsAndMonthNames) {
  ScopedSettings us(FormatSettings::UnitedStates());
  EXPECT_DOUBLE_EQ(DateTimeFromText("01/02/30", "MM/DD/YY", '/', ':'), At(WindowYear(30), 1, 2));
  EXPECT_DOUBLE_EQ(DateTimeFromText("01/02/99", "MM/DD/YY", '/', ':'), At(WindowYear(99), 1, 2));
  // The edges of the window.
  const int first = static_cast<int>(CurrentYear()) - 50;
  EXPECT_DOUBLE_EQ(
      DateTimeFromText("1/2/" + std::to_string(first % 100 + 100).substr(1), "MM/DD/YY", '/', ':'),
      At(first, 1, 2));
  EXPECT_DOUBLE_EQ(DateTimeFromText("1/2/" + std::to_string((first + 99) % 100 + 100).substr(1),
                                    "MM/DD/YY", '/', ':'),
                   At(first + 99, 1, 2));
  // Full names, any case; the month letters may be more than the text.
  EXPECT_DOUBLE_EQ(DateTimeFromText("7 september 2021", "DD MMMMMMMMM YYYY", ' ', ':'),
                   At(2021, 9, 7));
  EXPECT_DOUBLE_EQ(DateTimeFromText("07-may-2021", "DD-MMM-YYYY", '-', ':'), At(2021, 5, 7));
  // Unknown month name: the date part is 0.
  EXPECT_EQ(DateTimeFromText("07-MAYO-2021", "DD-MMMM-YYYY", '-', ':'), 0.0);

  FormatSettings spanishMonths = FormatSettings::UnitedStates();
  spanishMonths.LongMonthNames[4] = "Mayo";
  spanishMonths.ShortMonthNames[0] = "Ene";
  ScopedSettings scope(spanishMonths);
  EXPECT_DOUBLE_EQ(DateTimeFromText("07-MAYO-2021", "DD-MMMM-YYYY", '-', ':'), At(2021, 5, 7));
  EXPECT_DOUBLE_EQ(DateTimeFromText("07-ene-2021", "DD-MMM-YYYY", '-', ':'), At(2021, 1, 7));
  // English names stay known whatever the locale calls the month.
  EXPECT_DOUBLE_EQ(DateTimeFromText("07-Jan-2021", "DD-MMM-YYYY", '-', ':'), At(2021, 1, 7));
}

TEST(DateTimeFromText, Failures) {
  ScopedSettings iso(FormatSettings::Iso());
  EXPECT_EQ(
      MessageOf<EConvertError>([] { DateTimeFromText("ab/01/2020", "DD/MM/YYYY", '/', ':'); }),
      "'ab' is not a valid integer value");
  EXPECT_EQ(
      MessageOf<EConvertError>([] { DateTimeFromText("30/02/2020", "DD/MM/YYYY", '/', ':'); }),
      "Invalid argument to date encode");
  EXPECT_EQ(MessageOf<EConvertError>([] { DateTimeFromText("24:00", "HH:NN", '/', ':'); }),
            "Invalid argument to time encode");
  // Day out of range: no date part, and no failure.
  EXPECT_EQ(DateTimeFromText("32/01/2020", "DD/MM/YYYY", '/', ':'), 0.0);
}

TEST(ExtractToken, SplitsOneItemAtATime) {
  std::string s = "a; b;c";
  EXPECT_EQ(ExtractToken(';', s, false), "a");
  EXPECT_EQ(s, " b;c");
  EXPECT_EQ(ExtractToken(';', s, false), " b");
  EXPECT_EQ(s, "c");
  EXPECT_EQ(ExtractToken(';', s, false), "c");
  EXPECT_EQ(s, "");
  EXPECT_EQ(ExtractToken(';', s, false), "");

  s = ";x";
  EXPECT_EQ(ExtractToken(';', s, false), "");
  EXPECT_EQ(s, "x");

  s = "item \t\x01,rest";
  EXPECT_EQ(ExtractToken(',', s, false), "item");
  EXPECT_EQ(s, "rest");

  s = "a,b;c,d";
  EXPECT_EQ(ExtractToken(',', s, true), "a");
  EXPECT_EQ(s, "b;c,d");
  EXPECT_EQ(ExtractToken(',', s, true), "b");
  EXPECT_EQ(s, "");
}

TEST(CurrentYear, IsTheLocalYear) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(CurrentYear(), local.tm_year + 1900);
}
