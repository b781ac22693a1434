#include "front/ValueForms.h"

#include <cmath>

#include "cells/KvBinaryText.h"
#include "cells/KvConvert.h"
#include "cells/KvDecimal.h"
#include "cells/KvStream.h"
#include "cells/KvText.h"
#include "front/PathNames.h"

namespace {

// The file-name part of Path without its extension.
std::string StemOf(const std::string& path) {
  std::string name = path.substr(FileNamePartStart(path));
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

}  // namespace

bool NameListHolds(const std::string& list, std::string_view name) {
  if (list.empty() || name.empty()) return false;
  std::string key = ";";
  for (char c : name) key += LowerAscii(c);
  key += ';';
  return (";" + list).find(key) != std::string::npos;
}

bool ValueFormsActive(const TRunOptions& o) {
  return o.Utf8 || o.IsoValues || o.Trim || o.Blob != TBlobForm::Raw || !o.DateFields.empty() ||
         !o.TimeFields.empty();
}

TValueForms::TValueForms(const TRunOptions& options)
    : options_(options),
      codePage_(&TKvCodePage::Get(options.CodePage)),
      utf8_(options.Utf8),
      iso_(options.IsoValues),
      trim_(options.Trim),
      blob_(options.Blob) {}

void TValueForms::Begin(const TTableContext& table) {
  schema_ = table.Schema;
  settings_ = iso_ || table.Settings == nullptr ? FormatSettings::Iso() : *table.Settings;
  dates_ = std::make_unique<TDateTextCache>(settings_);
  rules_.assign(table.Columns.size(), TRule::Plain);
  for (std::size_t k = 0; k < table.Columns.size(); ++k) {
    const TTableColumn& c = schema_->Columns[std::size_t(table.Columns[k])];
    TRule& rule = rules_[k];
    if (c.IsBlob())
      rule = TRule::Blob;
    else if (c.Type == tpsChar && !c.IsArray())
      rule = TRule::FixedString;
    else if (c.Type == tpsLong && !c.IsArray() && NameListHolds(options_.DateFields, c.Name))
      rule = TRule::DayDate;
    else if (c.Type == tpsLong && !c.IsArray() && NameListHolds(options_.TimeFields, c.Name))
      rule = TRule::DayTime;
  }
  if (blob_ == TBlobForm::Files) {
    // The cell holds the path relative to the output file's folder, which is the
    // target's.
    files_ = TBlobFiles(options_.Target);
    const std::string& name = schema_->Name;
    const std::string table = name.empty() || name == "UNNAMED" ? StemOf(options_.Source) : name;
    scratch_.clear();
    AppendFileNamePart(scratch_, table);
    files_.BeginTable(scratch_);
  }
}

std::unique_ptr<TValueForms> TValueForms::Clone() const {
  auto copy = std::make_unique<TValueForms>(options_);
  copy->schema_ = schema_;
  copy->settings_ = settings_;
  copy->dates_ = std::make_unique<TDateTextCache>(copy->settings_);
  copy->rules_ = rules_;
  copy->files_ = files_;
  return copy;
}

void TValueForms::Merge(const TValueForms& copy) {
  impossible_ += copy.impossible_;
  invalidUtf8_ += copy.invalidUtf8_;
}

void TValueForms::TallyWarnings(TWarningTally& tally) const {
  tally.Add(kImpossibleDates, impossible_);
  tally.Add(kInvalidUtf8, invalidUtf8_);
}

void TValueForms::AppendText(std::string& out, std::string_view text) {
  if (utf8_)
    codePage_->AppendUtf8(out, text, invalidUtf8_);
  else
    out.append(text);
}

void TValueForms::AppendFileNamePart(std::string& out, std::string_view text) {
  if (FileNamesAreUtf8())
    AppendText(out, text);
  else
    out.append(text);
}

void TValueForms::AppendDate(std::string& out, double value) {
  // Under ISO values the cache holds the ISO settings' texts, which equal the ISO forms
  // of values without hundredths of a second (rounded as DecodeTime rounds them).
  if (iso_ && std::llround(std::fabs(value - std::trunc(value)) * 86400000.0) % 1000 >= 10)
    AppendIsoDateTime(out, value);
  else
    dates_->Append(out, value);
}

void TValueForms::Append(std::string& out, const TRowView& row, std::size_t k,
                         const TKvICellView* cell) {
  if (cell == nullptr) return;
  const bool text = cell->Kind == VarKind::String || cell->Kind == VarKind::WideString;
  switch (rules_[k]) {
    case TRule::Blob:
      if (text) {
        AppendBlob(out, row, k, cell->Text);
        return;
      }
      break;
    case TRule::FixedString:
      if (text) {
        AppendText(out, trim_ ? TrimEnd(cell->Text, [](char c) { return c == ' '; })
                              : std::string_view(cell->Text));
        return;
      }
      break;
    case TRule::DayDate:
    case TRule::DayTime:
      if (cell->Kind == VarKind::Integer) {
        if (cell->Int == 0) return;  // no date or time
        TDateTime dt;
        if (rules_[k] == TRule::DayDate ? TryClarionDate(cell->Int, dt)
                                        : TryClarionTime(cell->Int, dt))
          AppendDate(out, dt);
        else
          ++impossible_;
        return;
      }
      break;
    case TRule::Plain:
      break;
  }
  if (text) {
    AppendText(out, cell->Text);
  } else if (cell->Kind == VarKind::Date) {
    // The ISO forms straight from the calendar parts a decoded cell carries.
    if (!iso_ || !AppendIsoDateTimeParts(out, cell->Int, cell->Real)) AppendDate(out, cell->Real);
  } else if (iso_ && cell->IsPackedDecimal()) {
    AppendPackedDecimal(out, cell->Text, cell->PackedDecimals, '.', true);
  } else {
    AppendTextOf(out, *cell, settings_);
  }
}

void TValueForms::AppendBlob(std::string& out, const TRowView& row, std::size_t k,
                             std::string_view bytes) {
  switch (blob_) {
    case TBlobForm::Raw:
      out.append(bytes);
      return;
    case TBlobForm::Base64:
      AppendBase64(out, bytes);
      return;
    case TBlobForm::Hex:
      AppendHex(out, bytes);
      return;
    case TBlobForm::Omit:
      return;
    case TBlobForm::Files:
      break;
  }
  if (bytes.empty()) return;
  scratch_.clear();
  AppendFileNamePart(scratch_, schema_->Columns[std::size_t(row.Column(k))].Name);
  files_.Write(out, scratch_, row.RecordNumber, bytes);
}
