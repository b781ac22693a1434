// YEAR, MONTH, DAY, HOUR, MINUTE and SECOND against the number their one-letter
// pattern formats to ("yyyy", "m", "d", "h", "n", "s"), over the whole date range,
// negative dates, fractions a hair from midnight and values outside the calendar.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "expr/KvIParsBuiltins.h"
#include "expr/KvIParsValues.h"

namespace {

class OneArg : public TBuiltinArgs {
 public:
  explicit OneArg(Variant v) : v_(std::move(v)) {}
  int Count() const override { return 1; }
  Variant Get(int index) override {
    if (index != 0) ThrowListIndex(index);
    return v_;
  }

 private:
  Variant v_;
};

struct Part {
  const char* name;
  const char* pattern;
};
constexpr Part kParts[] = {{"YEAR", "yyyy"}, {"MONTH", "m"},  {"DAY", "d"},
                           {"HOUR", "h"},    {"MINUTE", "n"}, {"SECOND", "s"}};

// "Integer 2024" or "EConvertError: ..." for a call.
std::string Outcome(const char* name, const Variant& arg) {
  try {
    OneArg args(arg);
    const Variant r = CallBuiltin(FindBuiltin(name), args);
    return std::string(VarKindName(r.Kind())) + " " + TextOf(r);
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message();
  }
}

// The part as the formatted text, read back as an integer.
std::string FormattedOutcome(const char* pattern, TDateTime dt) {
  try {
    const std::int32_t n =
        ToInteger(Variant::String(FormatDateTime(pattern, dt, CurrentSettings())));
    return "Integer " + std::to_string(n);
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message();
  }
}

std::vector<double> SampleDates() {
  std::vector<double> v;
  // Whole days and fractions across and beyond the calendar (0001-01-01 is -693593,
  // 9999-12-31 is 2958465).
  const double fractions[] = {0,
                              1e-12,
                              0.25,
                              0.5,
                              0.75,
                              0.4999999,
                              0.999994,
                              0.9999942,
                              0.99999999,
                              0.999999999999,
                              1.0 / 24,
                              1.0 / 1440,
                              0.1,
                              86399.5 / 86400,
                              86399.9995 / 86400};
  for (double day = -693600; day <= 2958470; day += 9973) {
    for (double f : fractions) {
      v.push_back(day + f);
      v.push_back(-(day + f));
    }
  }
  // Around the calendar's ends, the epoch and leap days.
  for (double day : {-693594.0, -693593.0, -693592.0, -1.0, 0.0, 1.0, 59.0, 60.0, 61.0, 2958465.0,
                     2958466.0, 2958467.0, 36585.0, 36950.0, 45351.0}) {
    for (double f : fractions) {
      v.push_back(day + f);
      v.push_back(day - f);
    }
    v.push_back(std::nextafter(day, -1e9));
    v.push_back(std::nextafter(day, 1e9));
  }
  // Milliseconds next to midnight, on either side of the rounding to whole ones.
  for (double day : {-36000.0, -2.0, 0.0, 3.0, 45000.0}) {
    for (int ms = 86399995; ms <= 86400000; ++ms) {
      for (double nudge : {-0.5, -0.4999, 0.0, 0.4999, 0.5}) {
        v.push_back(day + (ms + nudge) / 86400000.0);
        v.push_back(day - (ms + nudge) / 86400000.0);
      }
    }
  }
  std::mt19937_64 random(20240301);
  std::uniform_real_distribution<double> anywhere(-700000, 3000000);
  for (int i = 0; i < 3000; ++i) v.push_back(anywhere(random));
  v.push_back(std::numeric_limits<double>::quiet_NaN());
  v.push_back(std::numeric_limits<double>::infinity());
  v.push_back(-std::numeric_limits<double>::infinity());
  v.push_back(1e300);
  v.push_back(-1e300);
  return v;
}

// Compares every part of every sample, as a Date and as a Double, under the current
// settings; returns the first few differences.
std::vector<std::string> Differences(const std::vector<double>& dates) {
  std::vector<std::string> out;
  for (double dt : dates) {
    for (const Part& part : kParts) {
      const std::string expected = FormattedOutcome(part.pattern, dt);
      for (const Variant& arg : {Variant::Date(dt), Variant::Double(dt)}) {
        const std::string actual = Outcome(part.name, arg);
        if (actual != expected && out.size() < 10) {
          char buf[64];
          std::snprintf(buf, sizeof buf, "%.17g", dt);
          out.push_back(std::string(part.name) + "(" + buf + ") = " + actual + ", formatted " +
                        expected);
        }
      }
    }
  }
  return out;
}

TEST(DateParts, EqualTheFormattedPartOverTheWholeRange) {
  const std::vector<double> dates = SampleDates();
  ASSERT_GT(dates.size(), 10000u);
  FormatSettings comma = FormatSettings::Iso();
  comma.DecimalSeparator = ',';
  comma.ThousandSeparator = '.';
  comma.DateSeparator = '.';
  comma.ShortDateFormat = "dd/mm/yyyy";
  for (const FormatSettings& fs : {FormatSettings::Iso(), FormatSettings::UnitedStates(), comma}) {
    ScopedSettings scoped(fs);
    EXPECT_EQ(Differences(dates), std::vector<std::string>{});
  }
  // Spot values, so that a fault shared by both ways would still show.
  ScopedSettings iso(FormatSettings::Iso());
  const TDateTime lastMs = EncodeDate(1999, 12, 31) + 86399999 / 86400000.0;
  EXPECT_EQ(Outcome("YEAR", Variant::Date(lastMs)), "Integer 1999");
  EXPECT_EQ(Outcome("HOUR", Variant::Date(lastMs)), "Integer 23");
  EXPECT_EQ(Outcome("SECOND", Variant::Date(lastMs)), "Integer 59");
  // Negative dates count days back from 1899-12-30 with the time of day as a positive
  // fraction: -1.25 is 1899-12-29 06:00.
  EXPECT_EQ(Outcome("DAY", Variant::Date(-1.25)), "Integer 29");
  EXPECT_EQ(Outcome("HOUR", Variant::Date(-1.25)), "Integer 6");
  EXPECT_EQ(Outcome("YEAR", Variant::Date(-693594)), "Integer 0");
  EXPECT_EQ(Outcome("MONTH", Variant::Double(std::nan(""))), "Integer 0");
  EXPECT_EQ(Outcome("HOUR", Variant::Date(0.5)), "Integer 12");
  EXPECT_EQ(Outcome("MINUTE", Variant::Integer(3)), "Integer 0");
}

TEST(DateParts, SeparatorsThatAreDigitsReadTheFormattedText) {
  // Under such settings the digits may read back as another number; whatever they
  // read as, the result is that of the text.
  FormatSettings odd = FormatSettings::Iso();
  odd.DecimalSeparator = '0';
  odd.ThousandSeparator = '1';
  ScopedSettings scoped(odd);
  const std::vector<double> dates = {0,         36526.5,   -1.25, 2958465.999, 45351.75,
                                     -693593.0, 45678.041, 10.5,  1e300};
  EXPECT_EQ(Differences(dates), std::vector<std::string>{});
}

TEST(DateParts, ArgumentsThatAreNotDates) {
  ScopedSettings iso(FormatSettings::Iso());
  // A text is read as a date only; Null and unreadable texts fail as before.
  EXPECT_EQ(Outcome("YEAR", Variant::String("2024-03-01")), "Integer 2024");
  EXPECT_EQ(Outcome("MINUTE", Variant::String("2024-03-01")), "Integer 0");
  EXPECT_EQ(Outcome("DAY", Variant::WideString("2024-03-09")), "Integer 9");
  EXPECT_EQ(Outcome("MONTH", Variant::String("nonsense")),
            "EConvertError: 'nonsense' is not a valid date");
  EXPECT_EQ(Outcome("YEAR", Variant::Null()).rfind("EVariantTypeCastError", 0), 0u);
  EXPECT_EQ(Outcome("DAY", Variant::Boolean(true)), "Integer 29");  // -1: 1899-12-29
  EXPECT_EQ(Outcome("YEAR", Variant::CurrencyScaled(3650000)), "Integer 1900");
}

}  // namespace
