// The one value-conversion module: text <-> number, date and Boolean, and the
// numeric and date formatting behind TextOf. The grid, the writer, the evaluator
// and the built-in functions all convert through here.
//
// Accepted text forms (leading and trailing blanks, code 32 or below, are ignored):
//  - number: optional sign, digits, the settings' thousands separator between digits,
//    at most one decimal separator (the settings' one), an optional exponent
//    (E or e, optional sign, digits). Examples under ISO settings: "12", "-3.5",
//    "1,234.5", "2E3", ".5". Nothing else may follow.
//  - Boolean: "true" or "false" in any letter case, or a number (non-zero = true).
//  - date: day, month and year in the order of the short date format, separated by
//    the settings' date separator (a two-digit year is placed in 1950..2049),
//    optionally followed by blanks and a time; or a time alone.
//  - time: h:n[:s[.z]] with the settings' time separator, optionally followed by an
//    AM or PM designator (the settings' ones, or AM/PM) in any letter case.
// Text that does not have such a form fails with "Invalid variant type conversion"
// (EVariantTypeCastError) in the Var* conversions below.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "cells/KvSettings.h"
#include "cells/KvVariant.h"

// 10^0 .. 10^15: exact as doubles and as 64-bit integers.
inline constexpr auto kIntPowersOfTen = [] {
  std::array<std::uint64_t, 16> p{};
  p[0] = 1;
  for (std::size_t i = 1; i < p.size(); ++i) p[i] = p[i - 1] * 10;
  return p;
}();
// "00" "01" .. "99": the decimal digits of numbers below 100, two at a time.
inline constexpr auto kDigitPairs = [] {
  std::array<char, 200> d{};
  for (int i = 0; i < 100; ++i) {
    d[std::size_t(2 * i)] = char('0' + i / 10);
    d[std::size_t(2 * i + 1)] = char('0' + i % 10);
  }
  return d;
}();
inline constexpr auto kPowersOfTen = [] {
  std::array<double, 16> p{};
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = double(kIntPowersOfTen[i]);
  return p;
}();

// ---- Text to value ----
bool TryTextToDouble(std::string_view text, const FormatSettings& fs, double& out);
bool TryTextToBoolean(std::string_view text, const FormatSettings& fs, bool& out);
// Date and/or time, as described above.
bool TryTextToDateTime(std::string_view text, const FormatSettings& fs, TDateTime& out);
// Date only (no time part), in the short date order.
bool TryTextToDate(std::string_view text, const FormatSettings& fs, TDateTime& out);
// Strict integer: optional blanks, optional sign, decimal digits or "$" and hex digits.
bool TryStrToInt(std::string_view text, std::int32_t& out);
// Throws EConvertError "'%s' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);

// ---- Variant conversions (the platform variant conversion) ----
// Integer: integer kinds as they are; reals and currency rounded to nearest, ties to
// even (outside 32 bits: EInvalidOp "Invalid floating point operation"); Boolean -1/0;
// Date rounded; Empty 0; text through TryTextToDouble then rounded; Null fails.
std::int32_t VarToInteger(const Variant& v, const FormatSettings& fs);
// Real: numbers and dates as their value; currency / 10000; Boolean -1/0; Empty 0;
// text through TryTextToDouble; Null fails.
double VarToReal(const Variant& v, const FormatSettings& fs);
// Boolean: numbers non-zero; Empty false; text through TryTextToBoolean; Null fails.
bool VarToBoolean(const Variant& v, const FormatSettings& fs);

// ---- Formatting ----
// printf-style %.{precision}G with the settings' decimal separator.
std::string FormatFloatG(double v, int precision, const FormatSettings& fs);
void AppendFloatG(std::string& out, double v, int precision, const FormatSettings& fs);
// Currency: the scaled value with up to four decimals, trailing zeros dropped.
std::string FormatCurrency(std::int64_t scaled, const FormatSettings& fs);
void AppendInt(std::string& out, std::int64_t v);
// The most characters WriteInt and WriteFloatG write.
inline constexpr std::size_t kNumberTextMax = 32;
// The texts of AppendInt and of AppendFloatG with a precision of 1 to 15, written at At
// (room for kNumberTextMax characters); return the end of the text.
char* WriteInt(char* at, std::int64_t v);
char* WriteFloatG(char* at, double v, int precision, char decimalSeparator);

// Date/time patterns: d dd (day), m mm (month), mmm mmmm (month names), yy yyyy (year),
// h hh (hour), n nn (minute), s ss (second), z zzz (milliseconds), am/pm and a/p
// (12-hour clock with designators), "/" date separator, ":" time separator, text in
// quotes copied. "m" right after an hour is a minute, as in Delphi.
std::string FormatDateTime(std::string_view pattern, TDateTime dt, const FormatSettings& fs);
// The text form of a Date value (see TextOf).
void AppendDateTimeText(std::string& out, TDateTime dt, const FormatSettings& fs);

// ---- Calendar ----
// EConvertError "Invalid argument to date encode" / "... time encode" on bad parts.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
// Whether TryEncodeDate takes these parts: years 1 to 9999, a day of the month.
bool IsValidDate(int year, int month, int day);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& out);
void DecodeDate(TDateTime dt, int& year, int& month, int& day);
void DecodeTime(TDateTime dt, int& hour, int& minute, int& second, int& millisecond);
bool IsLeapYear(int year);
// The local date and time now.
TDateTime NowDateTime();

// Clarion day numbers kept in integer fields: a date as days since 1800-12-28 (from 1,
// up to 9999-12-31), a time as hundredths of a second since midnight plus one (1 to
// 8,640,000). False for a value outside those ranges (0 included: no date or time).
bool TryClarionDate(std::int64_t days, TDateTime& out);
bool TryClarionTime(std::int64_t hundredthsPlusOne, TDateTime& out);

// Rounds to the nearest whole number, ties to even; the result is a double (no range
// check).
double RoundHalfEven(double v);
