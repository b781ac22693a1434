// Variant: the tagged value of cells, expression results and the evaluate callback.
// A kind plus an inline payload for numbers, dates and Booleans, and a text that
// uses std::string's small-string buffer when short. Copying copies the value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct FormatSettings;

// Whole days since 1899-12-30 plus the fraction of the day.
using TDateTime = double;

enum class VarKind : std::uint8_t {
  Empty,
  Null,
  SmallInt,
  Integer,
  Single,
  Double,
  Currency,
  Date,
  WideString,  // never created by this system; read like String
  Boolean,
  Byte,
  String,
};

class Variant {
 public:
  Variant() noexcept : kind_(VarKind::Empty), i64_(0) {}

  static Variant Null() noexcept { return Variant(VarKind::Null); }
  static Variant Integer(std::int32_t v) noexcept;
  static Variant SmallInt(std::int16_t v) noexcept;
  static Variant Byte(std::uint8_t v) noexcept;
  static Variant Single(float v) noexcept;
  static Variant Double(double v) noexcept;
  // A currency amount as its value scaled by 10000.
  static Variant CurrencyScaled(std::int64_t scaled) noexcept;
  static Variant Date(TDateTime v) noexcept;
  static Variant Boolean(bool v) noexcept;
  static Variant String(std::string v);
  static Variant String(std::string_view v) { return String(std::string(v)); }
  static Variant String(const char* v) { return String(std::string(v)); }
  static Variant WideString(std::string v);

  VarKind Kind() const noexcept { return kind_; }
  bool IsEmpty() const noexcept { return kind_ == VarKind::Empty; }
  bool IsNull() const noexcept { return kind_ == VarKind::Null; }
  bool IsNullOrEmpty() const noexcept { return IsEmpty() || IsNull(); }
  bool IsText() const noexcept { return kind_ == VarKind::String || kind_ == VarKind::WideString; }
  // SmallInt, Integer, Byte.
  bool IsOrdinal() const noexcept;
  // Any number kind, Date included (not Boolean).
  bool IsNumeric() const noexcept;

  // Raw payload access; the caller checks the kind first.
  std::int32_t AsInt() const noexcept;  // SmallInt, Integer, Byte
  double AsDouble() const noexcept;     // Single, Double, Date (numeric value)
  std::int64_t AsCurrencyScaled() const noexcept { return i64_; }
  bool AsBool() const noexcept { return i64_ != 0; }
  const std::string& AsString() const noexcept { return text_; }  // String, WideString

  // Exact equality of kind and payload (for tests and caches, not the language's "=").
  bool SameAs(const Variant& other) const noexcept;

 private:
  explicit Variant(VarKind k) noexcept : kind_(k), i64_(0) {}

  VarKind kind_;
  union {
    std::int64_t i64_;  // integers, currency, Boolean (0/1)
    double dbl_;        // Single (widened), Double, Date
  };
  std::string text_;
};

// Name of a kind, for messages and test output.
const char* VarKindName(VarKind k) noexcept;

// The text form of a value (Null and Empty give the empty text), under the current
// or the given settings. Doubles print like printf's %.15G, Singles like %.7G, with
// the locale's decimal separator; Boolean is "-1"/"0"; Date is the short date form,
// plus a space and the time form when there is a time of day (the time alone on day 0).
std::string TextOf(const Variant& v);
std::string TextOf(const Variant& v, const FormatSettings& fs);
// Appends the text form to out (the writer's hot path).
void AppendTextOf(std::string& out, const Variant& v, const FormatSettings& fs);
