#include "front/RowFilter.h"

#include <utility>

#include "cells/KvConvert.h"
#include "cells/KvSettings.h"
#include "cells/KvText.h"
#include "expr/KvIParsDateText.h"

bool StripEnclosing(char open, char close, std::string& s) {
  if (s.empty() || s.front() != open || s.back() != close) return false;
  if (s.size() == 1)
    s.clear();
  else
    s = s.substr(1, s.size() - 2);
  return true;
}

bool FilterResultIsTrue(const Variant& result) { return VarToBoolean(result, CurrentSettings()); }

TRowFilter::TRowFilter(std::string text) : text_(std::move(text)) {
  parser_.OnEvaluate = [this](TKvIParser* sender, const std::string& eval, const TEvalArgs& args,
                              int argCount, bool isChild, Variant& value, bool& done) {
    LookupName(sender, eval, args, argCount, isChild, value, done);
  };
}

void TRowFilter::SetTable(const TSpreadSheetCells* cells, std::vector<std::string> fieldNames) {
  cells_ = cells;
  upperNames_ = std::move(fieldNames);
  for (std::string& name : upperNames_) UpperAsciiInPlace(name);
  dayNumbers_.clear();
  names_.clear();
  nextName_ = 0;
}

bool TRowFilter::Accepts(std::int32_t row) {
  CurrentRow = row;
  Variant result;
  EvaluateFilter(text_, result);
  return FilterResultIsTrue(result);
}

void TRowFilter::EvaluateFilter(const std::string& text, Variant& result) {
  // The component keeps its tree while Text stays the same.
  if (parser_.Text != text) parser_.Text = text;
  result = parser_.Calculate();
}

void TRowFilter::FieldValue(std::int32_t i, Variant& value) const {
  // The row is read whole, as the writer reads it; the sheet keeps the row last read.
  const TKvICellView* cell =
      cells_ == nullptr ? nullptr : CellInRow(cells_->RowCells(CurrentRow), i);
  if (cell == nullptr) {
    value = Variant::Null();
    return;
  }
  if (cell->Kind == VarKind::Boolean) {
    value = Variant::String(cell->Int != 0 ? "1" : "0");
    return;
  }
  if (std::size_t(i) < dayNumbers_.size() && dayNumbers_[std::size_t(i)] != TDayNumber::None &&
      cell->Kind == VarKind::Integer) {
    TDateTime dt;
    const bool ok = dayNumbers_[std::size_t(i)] == TDayNumber::Date ? TryClarionDate(cell->Int, dt)
                                                                    : TryClarionTime(cell->Int, dt);
    value = ok ? Variant::Date(dt) : Variant::String("");
    return;
  }
  value = cell->ToVariant();
}

TRowFilter::TNameEntry TRowFilter::Resolve(const std::string& eval,
                                           const Variant& provisional) const {
  TNameEntry entry;
  entry.Eval = eval;
  entry.Provisional = provisional.IsText() ? provisional.AsString() : std::string();
  Variant value = provisional;
  if (value.IsText() && !value.AsString().empty()) {
    std::string s = value.AsString();
    StripEnclosing('[', ']', s);
    const bool quoted = StripEnclosing('"', '"', s);
    value = Variant::String(std::move(s));
    if (quoted) {
      // The text between the quotes is the value, whatever it spells.
      entry.Kind = TNameKind::nkQuoted;
      entry.Value = std::move(value);
      return entry;
    }
  }
  std::string upper = TextOf(value);
  UpperAsciiInPlace(upper);
  for (std::size_t i = 0; i < upperNames_.size(); ++i) {
    if (upperNames_[i] == upper) {  // the first matching field wins
      entry.Kind = TNameKind::nkField;
      entry.Field = std::int32_t(i);
      return entry;
    }
  }
  if (upper == "SUBSTITUTE") {
    entry.Kind = TNameKind::nkSubstitute;
    entry.Value = std::move(value);
    return entry;
  }
  // Any other name stands for its own text; an empty one for nothing.
  entry.Kind = TNameKind::nkOther;
  entry.Value = TextOf(value).empty() ? Variant::Null() : std::move(value);
  return entry;
}

void TRowFilter::Substitute(const TEvalArgs& args, Variant& value) const {
  value = Variant::Null();
  const std::string key = TextOf(args[0]);
  std::string from = TextOf(args[1]);
  std::string to = TextOf(args[2]);
  while (!from.empty()) {
    const std::string a = ExtractToken(';', from, false);
    std::string b = ExtractToken(';', to, false);
    if (a == key) {
      value = Variant::String(std::move(b));
      break;
    }
  }
  if (TextOf(value).empty()) value = Variant::Null();
}

void TRowFilter::LookupName(TKvIParser* /*sender*/, const std::string& eval, const TEvalArgs& args,
                            int argCount, bool /*isChild*/, Variant& value, bool& done) {
  done = argCount == 0;
  if (!value.IsText()) {
    // The engine offers every name as text; anything else is resolved each time.
    Apply(Resolve(eval, value), args, argCount, value, done);
    return;
  }
  // The names of a filter come in the same order for every row: try the one after
  // the last match first.
  const std::size_t count = names_.size();
  for (std::size_t k = 0, i = nextName_; k < count; ++k, i = i + 1 < count ? i + 1 : 0) {
    const TNameEntry& e = names_[i];
    if (e.Eval == eval && e.Provisional == value.AsString()) {
      nextName_ = i + 1 < count ? i + 1 : 0;
      Apply(e, args, argCount, value, done);
      return;
    }
  }
  names_.push_back(Resolve(eval, value));
  nextName_ = 0;
  // True and False read as the truth values they spell, as intended.
  if (const TNameEntry& e = names_.back();
      e.Kind == TNameKind::nkOther && !e.Value.IsNull() && OnNameIsNoField) {
    const std::string text = TextOf(e.Value);
    if (!SameTextAscii(text, "TRUE") && !SameTextAscii(text, "FALSE")) OnNameIsNoField(eval, text);
  }
  Apply(names_.back(), args, argCount, value, done);
}

void TRowFilter::Apply(const TNameEntry& entry, const TEvalArgs& args, int argCount, Variant& value,
                       bool& done) const {
  switch (entry.Kind) {
    case TNameKind::nkField:
      done = true;
      FieldValue(entry.Field, value);
      return;
    case TNameKind::nkSubstitute:
      if (argCount >= 3) {
        Substitute(args, value);
      } else {
        // Without its three arguments SUBSTITUTE is an ordinary name: its own text.
        value = entry.Value;
      }
      return;
    case TNameKind::nkQuoted:
    case TNameKind::nkOther:
      value = entry.Value;
      return;
  }
}
