// Value rules of the expression language: operand categories and the class matrix,
// the integer, real and currency rules, comparison, NOT, operand coercion, power and
// factorial.
#include "expr/KvIParsValues.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"

namespace {

// Operand categories, in the order of the rows and columns of the class matrix.
enum TCategory : std::uint8_t {
  catEmpty,
  catNull,
  catInt,
  catReal,
  catCurr,
  catText,
  catBool,
  catDate
};

// Handling classes of the matrix.
enum TClass : std::uint8_t { clE, clN, clI, clR, clC, clT, clB, clD };

TCategory CategoryOf(const Variant& v) {
  switch (v.Kind()) {
    case VarKind::Empty:
      return catEmpty;
    case VarKind::Null:
      return catNull;
    case VarKind::SmallInt:
    case VarKind::Integer:
    case VarKind::Byte:
      return catInt;
    case VarKind::Single:
    case VarKind::Double:
      return catReal;
    case VarKind::Currency:
      return catCurr;
    case VarKind::String:
    case VarKind::WideString:
      return catText;
    case VarKind::Boolean:
      return catBool;
    case VarKind::Date:
      return catDate;
  }
  ThrowInvalidVariantOp();
}

// Rows: left operand, columns: right operand.
constexpr TClass kMatrix[8][8] = {
    /* Empty   */ {clE, clE, clE, clE, clE, clE, clE, clE},
    /* Null    */ {clE, clN, clN, clN, clN, clN, clN, clN},
    /* integer */ {clE, clN, clI, clR, clC, clR, clI, clD},
    /* real    */ {clE, clN, clR, clR, clC, clR, clR, clD},
    /* currency*/ {clE, clN, clC, clC, clC, clC, clC, clD},
    /* text    */ {clE, clN, clR, clR, clC, clT, clB, clD},
    /* boolean */ {clE, clN, clI, clR, clC, clB, clB, clD},
    /* date    */ {clE, clN, clD, clD, clD, clD, clD, clD},
};

TClass ClassOf(const Variant& left, const Variant& right) {
  return kMatrix[CategoryOf(left)][CategoryOf(right)];
}

// A real result stored as a double: overflow and invalid results raise.
double CheckedReal(long double r) {
  double d = static_cast<double>(r);
  if (std::isnan(d)) throw EInvalidOp("Invalid floating point operation");
  if (std::isinf(d)) throw EOverflow("Floating point overflow");
  return d;
}

long double RealDivide(long double a, long double b) {
  if (b == 0) {
    // 0/0 has no value at all; any other number over zero is a division by zero.
    if (a == 0 || std::isnan(a)) throw EInvalidOp("Invalid floating point operation");
    throw EZeroDivide("Floating point division by zero");
  }
  return a / b;
}

Variant IntegerRule(TArithOp op, const Variant& left, const Variant& right);

Variant RealRule(TArithOp op, const Variant& left, const Variant& right) {
  const long double a = ToReal(left);
  const long double b = ToReal(right);
  switch (op) {
    case TArithOp::Add:
      return Variant::Double(CheckedReal(a + b));
    case TArithOp::Subtract:
      return Variant::Double(CheckedReal(a - b));
    case TArithOp::Multiply:
      return Variant::Double(CheckedReal(a * b));
    case TArithOp::Divide:
      return Variant::Double(CheckedReal(RealDivide(a, b)));
    default:
      return IntegerRule(op, left, right);
  }
}

Variant IntegerRule(TArithOp op, const Variant& left, const Variant& right) {
  const std::int64_t a = ToInteger(left);
  const std::int64_t b = ToInteger(right);
  std::int64_t r = 0;
  switch (op) {
    case TArithOp::Add:
      r = a + b;
      break;
    case TArithOp::Subtract:
      r = a - b;
      break;
    case TArithOp::Multiply:
      r = a * b;  // two 32-bit factors always fit in 64 bits
      break;
    case TArithOp::Divide:
      return RealRule(op, left, right);
    case TArithOp::IntDiv:
      if (b == 0) throw EDivByZero("Division by zero");
      r = a / b;  // in 64 bits, so -2147483648 div -1 is 2147483648 (redone as real below)
      break;
    case TArithOp::Mod:
      if (b == 0) throw EDivByZero("Division by zero");
      r = a % b;
      break;
    case TArithOp::And:
      return Variant::Integer(std::int32_t(a & b));
    case TArithOp::Or:
      return Variant::Integer(std::int32_t(a | b));
  }
  if (r < std::numeric_limits<std::int32_t>::min() ||
      r > std::numeric_limits<std::int32_t>::max()) {
    // 32-bit overflow: the operation is redone in floating point.
    if (op == TArithOp::IntDiv) return Variant::Double(double(r));
    return RealRule(op, left, right);
  }
  return Variant::Integer(std::int32_t(r));
}

// A currency amount, scaled by 10000, of any operand.
long double CurrencyAmount(const Variant& v) {
  if (v.Kind() == VarKind::Currency) return static_cast<long double>(v.AsCurrencyScaled());
  return static_cast<long double>(ToReal(v)) * 10000.0L;
}

Variant CurrencyResult(long double scaled) {
  const long double r = std::nearbyint(scaled);
  if (!(r >= -9223372036854775807.0L && r <= 9223372036854775807.0L))
    throw EOverflow("Floating point overflow");
  return Variant::CurrencyScaled(static_cast<std::int64_t>(r));
}

Variant CurrencyRule(TArithOp op, const Variant& left, const Variant& right) {
  switch (op) {
    case TArithOp::Add:
      return CurrencyResult(CurrencyAmount(left) + CurrencyAmount(right));
    case TArithOp::Subtract:
      return CurrencyResult(CurrencyAmount(left) - CurrencyAmount(right));
    case TArithOp::Multiply:
      return CurrencyResult(CurrencyAmount(left) * CurrencyAmount(right) / 10000.0L);
    case TArithOp::Divide: {
      const long double a = CurrencyAmount(left);
      const long double b = CurrencyAmount(right);
      if (right.Kind() == VarKind::Currency) return Variant::Double(CheckedReal(RealDivide(a, b)));
      return CurrencyResult(RealDivide(a, b) * 10000.0L);
    }
    default:
      return IntegerRule(op, left, right);
  }
}

// The text of a text operand without copying a String.
const std::string& TextRef(const Variant& v, std::string& scratch) {
  if (v.IsText()) return v.AsString();
  scratch = TextOf(v);
  return scratch;
}

int CompareTexts(const std::string& a, const std::string& b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  const int c = n ? std::memcmp(a.data(), b.data(), n) : 0;  // unsigned bytes
  if (c != 0) return c < 0 ? -1 : 1;
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

template <typename T>
TCompareResult Order(T a, T b) {
  if (a < b) return TCompareResult::Less;
  if (b < a) return TCompareResult::Greater;
  return TCompareResult::Equal;
}

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

// ---------------------------------------------------------------- arithmetic

Variant VariantArithmetic(TArithOp op, const Variant& left, const Variant& right) {
  switch (ClassOf(left, right)) {
    case clE:
      ThrowInvalidVariantOp();
    case clN:
      return Variant::Null();
    case clI:
      return IntegerRule(op, left, right);
    case clR:
      return RealRule(op, left, right);
    case clC:
      return CurrencyRule(op, left, right);
    case clT:
      if (op == TArithOp::Add) return Variant::String(left.AsString() + right.AsString());
      return RealRule(op, left, right);
    case clB:
      if (left.Kind() == VarKind::Boolean && right.Kind() == VarKind::Boolean) {
        if (op == TArithOp::And) return Variant::Boolean(left.AsBool() && right.AsBool());
        if (op == TArithOp::Or) return Variant::Boolean(left.AsBool() || right.AsBool());
      }
      if (op == TArithOp::And) return Variant::Boolean(ToBoolean(left) && ToBoolean(right));
      if (op == TArithOp::Or) return Variant::Boolean(ToBoolean(left) || ToBoolean(right));
      return RealRule(op, left, right);
    case clD:
      if (op == TArithOp::Add) {
        return Variant::Date(RealRule(op, left, right).AsDouble());
      }
      if (op == TArithOp::Subtract) {
        const Variant r = RealRule(op, left, right);
        if (left.Kind() == VarKind::Date && right.Kind() == VarKind::Date) return r;
        return Variant::Date(r.AsDouble());
      }
      return RealRule(op, left, right);
  }
  ThrowInvalidVariantOp();
}

// ---------------------------------------------------------------- comparison

TCompareResult CompareValues(const Variant& left, const Variant& right) {
  switch (ClassOf(left, right)) {
    case clE:
      ThrowInvalidVariantOp();
    case clN:
      if (left.IsNull() && right.IsNull()) return TCompareResult::Equal;
      return left.IsNull() ? TCompareResult::Less : TCompareResult::Greater;
    case clI:
      // Integer kinds convert to themselves.
      if (left.IsOrdinal() && right.IsOrdinal()) return Order(left.AsInt(), right.AsInt());
      return Order(ToInteger(left), ToInteger(right));
    case clR:
    case clD:
      // Only a text needs the settings to become a real; every other kind here is
      // its numeric value.
      if (!left.IsText() && !right.IsText()) return Order(left.AsDouble(), right.AsDouble());
      return Order(ToReal(left), ToReal(right));
    case clC:
      return Order(CurrencyAmount(left), CurrencyAmount(right));
    case clT: {
      std::string sa, sb;
      const int c = CompareTexts(TextRef(left, sa), TextRef(right, sb));
      return c < 0 ? TCompareResult::Less : c > 0 ? TCompareResult::Greater : TCompareResult::Equal;
    }
    case clB:
      return Order(int(ToBoolean(left)), int(ToBoolean(right)));
  }
  ThrowInvalidVariantOp();
}

Variant VariantNot(const Variant& v) {
  switch (v.Kind()) {
    case VarKind::Empty:
      ThrowInvalidVariantOp();
    case VarKind::Null:
      return Variant::Null();
    case VarKind::Boolean:
      return Variant::Boolean(!v.AsBool());
    default:
      return Variant::Integer(~ToInteger(v));
  }
}

// ---------------------------------------------------------------- operand coercion

namespace {

// The text form holds a date or time separator.
bool LooksLikeDate(std::string_view text, const FormatSettings& fs) {
  return text.find(fs.DateSeparator) != std::string_view::npos ||
         text.find(fs.TimeSeparator) != std::string_view::npos;
}

std::string NumberTextCleanup(std::string_view text, const FormatSettings& fs) {
  std::string s;
  s.reserve(text.size());
  for (char c : text) {
    // A comma that is the locale's decimal separator is the number's decimal point and
    // stays; every other comma, and the thousands separator, is grouping.
    const bool grouping = (c == ',' && fs.DecimalSeparator != ',') || c == fs.ThousandSeparator;
    if (!grouping) s += c;
  }
  std::size_t p = fs.CurrencyString.empty() ? std::string::npos : s.find(fs.CurrencyString);
  if (p != std::string::npos) {
    s.erase(p, fs.CurrencyString.size());
  } else {
    p = s.find('$');
    if (p != std::string::npos) s.erase(p, 1);
  }
  return s;
}

bool IsNumberText(std::string_view text, const FormatSettings& fs) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  bool pointTaken = fs.DecimalSeparator == '.';  // "." is always a point
  while (i < n && text[i] == ' ') ++i;
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  int digits = 0;
  bool point = false;
  for (; i < n; ++i) {
    char c = text[i];
    if (!pointTaken && c == fs.DecimalSeparator) {
      c = '.';  // only the first locale separator reads as the point
      pointTaken = true;
    }
    if (IsAsciiDigit(c)) {
      ++digits;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    int expDigits = 0;
    while (i < n && IsAsciiDigit(text[i])) {
      ++i;
      ++expDigits;
    }
    if (expDigits == 0) return false;
  }
  return i == n;
}

}  // namespace

Variant ArithmeticOperand(const Variant& v) {
  if (v.IsNullOrEmpty()) return Variant::Integer(0);
  const FormatSettings& fs = CurrentSettings();
  std::string scratch;
  const std::string& text = TextRef(v, scratch);
  if (v.Kind() == VarKind::Date && LooksLikeDate(text, fs)) {
    TDateTime dt;
    if (TryTextToDateTime(text, fs, dt)) return v;
  }
  std::string cleaned = NumberTextCleanup(text, fs);
  if (IsNumberText(cleaned, fs)) return Variant::String(std::move(cleaned));
  return Variant::Integer(0);
}

// ---------------------------------------------------------------- power, factorial

double Power(double base, double exponent) {
  if (exponent == 0) return 1;
  if (base == 0 && exponent > 0) return 0;
  if (std::trunc(exponent) == exponent && std::fabs(exponent) <= 2147483647.0) {
    long long n = static_cast<long long>(exponent);
    const bool negative = n < 0;
    if (negative) n = -n;
    long double b = base;
    long double result = 1;
    while (n != 0) {
      if (n % 2 == 0) {
        b *= b;
        n /= 2;
      } else {
        result *= b;
        n -= 1;
      }
    }
    if (negative) result = RealDivide(1, result);
    return CheckedReal(result);
  }
  if (base < 0) throw EInvalidOp("Invalid floating point operation");
  if (base == 0) throw EZeroDivide("Floating point division by zero");
  return CheckedReal(std::exp(static_cast<long double>(exponent) * std::log((long double)base)));
}

Variant Factorial(std::int32_t n) {
  // 0! is 1; a negative n yields itself.
  if (n == 0) return Variant::Integer(1);
  if (n <= 1) return Variant::Integer(n);
  // n * (n-1)! evaluated from the inside out, without recursion: Integer up to 12,
  // Double from 13 on, "Floating point overflow" from 171 on.
  Variant product = Variant::Integer(1);
  for (std::int32_t k = 2; k <= n; ++k) {
    product = VariantArithmetic(TArithOp::Multiply, Variant::Integer(k), product);
  }
  return product;
}

// ---------------------------------------------------------------- conversions

std::int32_t ToInteger(const Variant& v) { return VarToInteger(v, CurrentSettings()); }

double ToReal(const Variant& v) { return VarToReal(v, CurrentSettings()); }

bool ToBoolean(const Variant& v) { return VarToBoolean(v, CurrentSettings()); }
