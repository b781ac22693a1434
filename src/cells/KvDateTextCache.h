// The texts of date and time values under one set of regional settings, kept while one
// table is written (the settings stay the same meanwhile): a table's dates repeat a great
// deal, and their text form is the costly one. Each text equals AppendDateTimeText's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cells/KvCells.h"
#include "cells/KvSettings.h"

class TDateTextCache {
 public:
  explicit TDateTextCache(const FormatSettings& settings);
  // Appends the text of the Date value.
  void Append(std::string& out, double value);
  // Appends the text of a cell of Kind Date: from the calendar parts it carries when
  // they give the plain forms, otherwise from its value.
  void Append(std::string& out, const TKvICellView& cell);
  // The same text written at At (room for kPartsTextMax characters) when the calendar
  // parts the cell carries give it; returns its end, or null (nothing written) when
  // Append must work it out.
  static constexpr std::size_t kPartsTextMax = 16;
  char* WriteParts(char* at, const TKvICellView& cell) const;
  // Whether WriteParts writes the dates and the times of days from 1000 to 9999.
  bool PartsGivePlainText() const { return plainDate_ && plainTime_; }
  // WriteParts' texts of a date of a year from 1000 to 9999 other than 1899-12-30, and of
  // a time of day (hours below 24, minutes and seconds below 60), when it gives them.
  char* WriteDate(char* at, std::uint32_t year, std::uint32_t month, std::uint32_t day) const;
  char* WriteTime(char* at, std::uint32_t hour, std::uint32_t minute, std::uint32_t second) const;

 private:
  struct Entry {
    std::uint64_t Key = 0;
    std::uint8_t Kind = 0;  // 0: empty, 1: the value's bits, 2: a time by its clock
    std::uint8_t Length = 0;
    char Text[38];
  };
  bool AppendPlain(std::string& out, double value) const;
  bool AppendParts(std::string& out, const TKvICellView& cell) const;
  void AppendClock(std::string& out, double value, std::uint32_t clock);
  void AppendRecent(std::string& out, double value, std::uint64_t key, std::uint8_t kind);

  const FormatSettings& settings_;
  const bool timeByClock_;
  bool plainTime_ = false, plainDate_ = false;
  char dateSeparator_ = '-';
  int shift_ = 54;  // 64 - log2 of the number of entries
  std::vector<Entry> recent_ = std::vector<Entry>(std::size_t(1) << (64 - 54));
  std::size_t misses_ = 0;
  std::size_t clockValues_ = 0;
  std::vector<std::pair<std::uint32_t, std::uint8_t>> clockTexts_;  // by second of the day
  std::string clockArena_;
  std::string text_;
};
