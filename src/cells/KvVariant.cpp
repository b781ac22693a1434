#include "cells/KvVariant.h"

#include "cells/KvConvert.h"
#include "cells/KvSettings.h"

Variant Variant::Integer(std::int32_t v) noexcept {
  Variant r(VarKind::Integer);
  r.i64_ = v;
  return r;
}

Variant Variant::SmallInt(std::int16_t v) noexcept {
  Variant r(VarKind::SmallInt);
  r.i64_ = v;
  return r;
}

Variant Variant::Byte(std::uint8_t v) noexcept {
  Variant r(VarKind::Byte);
  r.i64_ = v;
  return r;
}

Variant Variant::Single(float v) noexcept {
  Variant r(VarKind::Single);
  r.dbl_ = v;
  return r;
}

Variant Variant::Double(double v) noexcept {
  Variant r(VarKind::Double);
  r.dbl_ = v;
  return r;
}

Variant Variant::CurrencyScaled(std::int64_t scaled) noexcept {
  Variant r(VarKind::Currency);
  r.i64_ = scaled;
  return r;
}

Variant Variant::Date(TDateTime v) noexcept {
  Variant r(VarKind::Date);
  r.dbl_ = v;
  return r;
}

Variant Variant::Boolean(bool v) noexcept {
  Variant r(VarKind::Boolean);
  r.i64_ = v ? 1 : 0;
  return r;
}

Variant Variant::String(std::string v) {
  Variant r(VarKind::String);
  r.text_ = std::move(v);
  return r;
}

Variant Variant::WideString(std::string v) {
  Variant r(VarKind::WideString);
  r.text_ = std::move(v);
  return r;
}

bool Variant::IsOrdinal() const noexcept {
  return kind_ == VarKind::SmallInt || kind_ == VarKind::Integer || kind_ == VarKind::Byte;
}

bool Variant::IsNumeric() const noexcept {
  switch (kind_) {
    case VarKind::SmallInt:
    case VarKind::Integer:
    case VarKind::Byte:
    case VarKind::Single:
    case VarKind::Double:
    case VarKind::Currency:
    case VarKind::Date:
      return true;
    default:
      return false;
  }
}

std::int32_t Variant::AsInt() const noexcept { return std::int32_t(i64_); }

double Variant::AsDouble() const noexcept {
  switch (kind_) {
    case VarKind::Single:
    case VarKind::Double:
    case VarKind::Date:
      return dbl_;
    case VarKind::Currency:
      return double(i64_) / 10000.0;
    case VarKind::SmallInt:
    case VarKind::Integer:
    case VarKind::Byte:
      return double(i64_);
    case VarKind::Boolean:
      return i64_ ? -1.0 : 0.0;
    default:
      return 0.0;
  }
}

bool Variant::SameAs(const Variant& other) const noexcept {
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case VarKind::Empty:
    case VarKind::Null:
      return true;
    case VarKind::Single:
    case VarKind::Double:
    case VarKind::Date:
      return dbl_ == other.dbl_;
    case VarKind::String:
    case VarKind::WideString:
      return text_ == other.text_;
    default:
      return i64_ == other.i64_;
  }
}

const char* VarKindName(VarKind k) noexcept {
  switch (k) {
    case VarKind::Empty:
      return "Empty";
    case VarKind::Null:
      return "Null";
    case VarKind::SmallInt:
      return "SmallInt";
    case VarKind::Integer:
      return "Integer";
    case VarKind::Single:
      return "Single";
    case VarKind::Double:
      return "Double";
    case VarKind::Currency:
      return "Currency";
    case VarKind::Date:
      return "Date";
    case VarKind::WideString:
      return "WideString";
    case VarKind::Boolean:
      return "Boolean";
    case VarKind::Byte:
      return "Byte";
    case VarKind::String:
      return "String";
  }
  return "?";
}

void AppendTextOf(std::string& out, const Variant& v, const FormatSettings& fs) {
  switch (v.Kind()) {
    case VarKind::Empty:
    case VarKind::Null:
      return;
    case VarKind::String:
    case VarKind::WideString:
      out += v.AsString();
      return;
    case VarKind::SmallInt:
    case VarKind::Integer:
    case VarKind::Byte:
      AppendInt(out, v.AsInt());
      return;
    case VarKind::Double:
      AppendFloatG(out, v.AsDouble(), 15, fs);
      return;
    case VarKind::Single:
      AppendFloatG(out, v.AsDouble(), 7, fs);
      return;
    case VarKind::Currency:
      out += FormatCurrency(v.AsCurrencyScaled(), fs);
      return;
    case VarKind::Boolean:
      out += v.AsBool() ? "-1" : "0";
      return;
    case VarKind::Date:
      AppendDateTimeText(out, v.AsDouble(), fs);
      return;
  }
}

std::string TextOf(const Variant& v, const FormatSettings& fs) {
  if (v.IsText()) return v.AsString();
  std::string out;
  AppendTextOf(out, v, fs);
  return out;
}

std::string TextOf(const Variant& v) { return TextOf(v, CurrentSettings()); }
