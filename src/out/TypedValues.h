// One value of a typed column, read from a row's cell in the form both typed outputs
// write: an integer, a real, the exact digits of a decimal, UTF-8 text, bytes, or null.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cells/KvCells.h"
#include "out/TypedColumns.h"

class TKvCodePage;

struct TTypedValue {
  enum TKind : std::uint8_t { kNull, kInteger, kReal, kSingle, kDecimal, kText, kBytes };
  TKind Kind = kNull;
  std::int64_t Int = 0;
  double Real = 0;        // Real and Single (a float's value)
  std::string_view Text;  // Decimal: its digits; Text: UTF-8; Bytes: the stored bytes
};

// Reads cells into typed values. Texts are decoded from the code page into UTF-8, lose
// their trailing NUL bytes, and STRING values lose their trailing blanks when Trim is
// set; a DATE or TIME that is empty or impossible is null.
class TTypedReader {
 public:
  TTypedReader(const TKvCodePage& codePage, bool trim) : codePage_(codePage), trim_(trim) {}

  // The value of one element of Column from View (null: the row has no cell there).
  // Texts go into Scratch, which must stay unchanged while the value is used.
  TTypedValue Read(const TTypedColumn& column, const TKvICellView* view, std::string& scratch);

  // Appends the JSON form of the value Read gives, straight from the cell, where that
  // needs no copy through a scratch text: null, integers, doubles, decimals with their digits,
  // dates and times, texts of a single-byte code page. False, with nothing appended, for
  // every other value (BLOB bytes among them).
  bool AppendJsonDirect(std::string& out, const TTypedColumn& column, const TKvICellView* view);

  // AppendJsonDirect's text written at At when it needs no more room than End leaves
  // (at least kJsonDirectRoom) and is not a text with bytes to escape or decode; returns
  // its end, or null, with nothing written that counts, otherwise.
  static constexpr std::size_t kJsonDirectRoom = 80;
  char* WriteJsonDirect(char* at, char* end, const TTypedColumn& column, const TKvICellView* view);

  // For a column of texts, dates or times: appends the text Read gives straight to Out
  // and returns true, or returns false, appending nothing, when the value is null.
  // Column must be of one of those kinds.
  bool AppendText(std::string& out, const TTypedColumn& column, const TKvICellView* view);
  static bool IsText(TTypedKind kind) {
    return kind == TTypedKind::String || kind == TTypedKind::Text || kind == TTypedKind::Memo ||
           kind == TTypedKind::Date || kind == TTypedKind::Time;
  }

  // Texts of code page 65001 that were not valid UTF-8 (each bad sequence replaced).
  std::int64_t InvalidUtf8() const { return invalidUtf8_; }
  void AddInvalidUtf8(std::int64_t n) { invalidUtf8_ += n; }

 private:
  const TKvCodePage& codePage_;
  const bool trim_;
  std::int64_t invalidUtf8_ = 0;
};

// The text of a decimal with exactly Decimals digits after the point ("12.50", "-0.05",
// "7"), no exponent; a negative zero is written without its sign.
void AppendDecimalText(std::string& out, double value, int decimals);
