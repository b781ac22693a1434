#include "front/RowFilter.h"

#include <utility>

#include "cells/KvConvert.h"
#include "cells/KvSettings.h"
#include "expr/KvIParsDateText.h"

namespace {

void UpperAscii(std::string& s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
}

}  // namespace

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
  for (std::string& name : upperNames_) UpperAscii(name);
  names_.clear();
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
  TKvICellView cell;
  if (cells_ == nullptr || !cells_->PeekCell(i, CurrentRow, cell)) {
    value = Variant::Null();
    return;
  }
  if (cell.Kind == VarKind::Boolean) {
    value = Variant::String(cell.Int != 0 ? "1" : "0");
    return;
  }
  value = cell.ToVariant();
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
  UpperAscii(upper);
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
  const TNameEntry* entry = nullptr;
  for (const TNameEntry& e : names_) {
    if (e.Eval == eval && value.IsText() && e.Provisional == value.AsString()) {
      entry = &e;
      break;
    }
  }
  TNameEntry fresh;
  if (entry == nullptr) {
    fresh = Resolve(eval, value);
    // Only names offered as text are remembered (the engine always offers text).
    if (value.IsText()) {
      names_.push_back(std::move(fresh));
      entry = &names_.back();
    } else {
      entry = &fresh;
    }
  }
  switch (entry->Kind) {
    case TNameKind::nkField:
      done = true;
      FieldValue(entry->Field, value);
      return;
    case TNameKind::nkSubstitute:
      if (argCount >= 3) {
        Substitute(args, value);
      } else {
        // Without its three arguments SUBSTITUTE is an ordinary name: its own text.
        value = entry->Value;
      }
      return;
    case TNameKind::nkQuoted:
    case TNameKind::nkOther:
      value = entry->Value;
      return;
  }
}
