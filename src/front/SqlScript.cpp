#include "front/SqlScript.h"

#include <array>
#include <charconv>
#include <cmath>

#include "cells/KvConvert.h"
#include "cells/KvDecimal.h"
#include "cells/KvSettings.h"
#include "tps/KvTPSFields.h"

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

inline void AppendTwoDigits(std::string& out, int v) {
  const char digits[2] = {char('0' + v / 10 % 10), char('0' + v % 10)};
  out.append(digits, 2);
}

// The number with the fewest digits that reads back as the same value of its own
// precision; PostgreSQL's words for NaN and the infinities.
template <typename T>
void AppendShortest(std::string& out, T v) {
  if (std::isnan(v)) {
    out += "NaN";
  } else if (std::isinf(v)) {
    out += v < 0 ? "-Infinity" : "Infinity";
  } else {
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, v);
    out.append(text, r.ptr);
  }
}

// The bytes COPY's text format reads as special in a field: backslash, tab, LF, CR.
constexpr std::array<bool, 256> kCopySpecial = [] {
  std::array<bool, 256> t{};
  t[std::uint8_t('\\')] = t[std::uint8_t('\t')] = t[std::uint8_t('\n')] = t[std::uint8_t('\r')] =
      true;
  return t;
}();

// Appends Text escaped for a field of COPY's text format: backslash, tab, LF and CR
// as backslash sequences; every other byte as it is.
void AppendCopyEscaped(std::string& out, std::string_view text) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!kCopySpecial[std::uint8_t(c)]) continue;
    out.append(text.data() + run, i - run);
    out.push_back('\\');
    out.push_back(c == '\\' ? '\\' : c == '\t' ? 't' : c == '\n' ? 'n' : 'r');
    run = i + 1;
  }
  out.append(text.data() + run, text.size() - run);
}

// Appends an array element as a quoted element of an array literal.
void AppendArrayQuoted(std::string& out, std::string_view text) {
  out.push_back('"');
  for (const char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

bool IsTextType(std::uint8_t type) {
  return type == tpsChar || type == tpsVarChar || type == tpsMaskString || type == tpsString ||
         type == tpsMEMO;
}

}  // namespace

std::string QuotePgName(std::string_view name) {
  std::string out = "\"";
  for (const char c : name) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

bool HasSqlColumn(std::uint8_t type) {
  return type != tpsUnknown && type != tpsGroup && type <= tpsString;
}

std::string PgTypeName(const TSqlColumn& c) {
  std::string type;
  switch (c.Type) {
    case tpsByte:
    case tpsShort:
      type = "smallint";
      break;
    case tpsUShort:
    case tpsLong:
      type = "integer";
      break;
    case tpsULong:
      type = "bigint";
      break;
    case tpsFloat:
      type = c.Size == 4 ? "real" : "double precision";
      break;
    case tpsDouble:
      type = "double precision";
      break;
    case tpsDecimal: {
      // Two digits a byte but the first byte's high half, which holds the sign.
      const int digits = c.Size > 0 ? 2 * int(c.Size) - 1 : 1;
      const int decimals = std::min<int>(c.Decimals, digits);
      type = "numeric(" + std::to_string(digits) + "," + std::to_string(decimals) + ")";
      break;
    }
    case tpsDate:
      type = "date";
      break;
    case tpsTime:
      type = "time(2)";
      break;
    case tpsBLOB:
      type = "bytea";
      break;
    default:
      type = "text";
      break;
  }
  if (c.Array) type += "[]";
  return type;
}

std::string SqlScriptHead() { return "SET client_encoding = 'UTF8';\nBEGIN;\n"; }

std::string SqlScriptTail() { return "COMMIT;\n"; }

void AppendSqlTableStart(std::string& out, const TSqlTable& t) {
  const std::string name = QuotePgName(t.Name);
  out += "\nDROP TABLE IF EXISTS " + name + ";\nCREATE TABLE " + name + " (";
  std::string list;
  for (std::size_t i = 0; i < t.Columns.size(); ++i) {
    const std::string column = QuotePgName(t.Columns[i].Name);
    out += i == 0 ? "\n  " : ",\n  ";
    out += column + " " + PgTypeName(t.Columns[i]);
    list += (i == 0 ? "" : ", ") + column;
  }
  out += "\n);\nCOPY " + name + " (" + list + ") FROM stdin;\n";
}

void AppendSqlTableEnd(std::string& out, const TSqlTable& t) {
  out += "\\.\n";
  for (const TSqlIndex& index : t.Indexes) {
    out += "CREATE INDEX " + QuotePgName(index.Name) + " ON " + QuotePgName(t.Name) + " (";
    for (std::size_t i = 0; i < index.Parts.size(); ++i) {
      if (i > 0) out += ", ";
      out += QuotePgName(t.Columns[index.Parts[i].Column].Name);
      if (index.Parts[i].Descending) out += " DESC";
    }
    out += ");\n";
  }
}

TSqlRowWriter::TSqlRowWriter(const TSqlTable& table, const TKvCodePage& codePage)
    : table_(table), codePage_(codePage) {}

void TSqlRowWriter::AppendText(std::string& out, std::string_view bytes) {
  const std::size_t start = out.size();
  codePage_.AppendUtf8(out, bytes, invalidUtf8_);
  // PostgreSQL text cannot hold a NUL byte; each one inside a text becomes U+FFFD.
  for (std::size_t i = out.find('\0', start); i != std::string::npos; i = out.find('\0', i)) {
    out.replace(i, 1, kReplacement);
    i += kReplacement.size();
    ++nuls_;
  }
}

bool TSqlRowWriter::AppendValue(std::string& out, const TSqlColumn& c, const TKvICellView* cell) {
  if (cell == nullptr || cell->Kind == VarKind::Null || cell->Kind == VarKind::Empty) return false;
  const bool number = cell->Kind == VarKind::Integer || cell->Kind == VarKind::SmallInt ||
                      cell->Kind == VarKind::Byte;
  switch (c.Type) {
    case tpsByte:
    case tpsShort:
    case tpsUShort:
    case tpsLong:
    case tpsULong:
      if (number) {
        AppendInt(out, cell->Int);
      } else if (cell->Kind == VarKind::Double && std::isfinite(cell->Real)) {
        // ULONG values from 2^31 up: whole numbers below 2^32.
        AppendInt(out, std::int64_t(cell->Real));
      } else {
        return false;
      }
      return true;
    case tpsFloat:
    case tpsDouble:
      if (cell->Kind == VarKind::Single)
        AppendShortest(out, float(cell->Real));
      else if (cell->Kind == VarKind::Double)
        AppendShortest(out, cell->Real);
      else
        return false;
      return true;
    case tpsDate:
    case tpsTime: {
      // Zero and impossible dates and times are no date-time cell: null.
      if (cell->Kind != VarKind::Date || !std::isfinite(cell->Real)) return false;
      if (c.Type == tpsDate) {
        int year, month, day;
        DecodeDate(cell->Real, year, month, day);
        if (year < 1 || year > 9999) return false;
        AppendTwoDigits(out, year / 100), AppendTwoDigits(out, year % 100);
        out.push_back('-'), AppendTwoDigits(out, month);
        out.push_back('-'), AppendTwoDigits(out, day);
      } else {
        int hour, minute, second, ms;
        DecodeTime(cell->Real, hour, minute, second, ms);
        AppendTwoDigits(out, hour), out.push_back(':');
        AppendTwoDigits(out, minute), out.push_back(':');
        AppendTwoDigits(out, second);
        // Times are stored in hundredths of a second.
        if (const int hundredths = std::min((ms + 5) / 10, 99); hundredths > 0) {
          out.push_back('.');
          AppendTwoDigits(out, hundredths);
        }
      }
      return true;
    }
    case tpsDecimal:
      // The exact digits of the stored value, with its declared decimals.
      if (cell->IsPackedDecimal())
        AppendPackedDecimal(out, cell->Text, cell->PackedDecimals, '.', true);
      else if (cell->Kind == VarKind::Double && std::isfinite(cell->Real))
        AppendTextOf(out, *cell, FormatSettings::Iso());
      else
        return false;
      return true;
    case tpsBLOB: {
      static const char kHex[] = "0123456789abcdef";
      out += "\\x";
      for (const char b : cell->Text) {
        out.push_back(kHex[std::uint8_t(b) >> 4]);
        out.push_back(kHex[std::uint8_t(b) & 15]);
      }
      return true;
    }
    default: {
      if (!IsTextType(c.Type) ||
          (cell->Kind != VarKind::String && cell->Kind != VarKind::WideString))
        return false;
      // NUL bytes at the end are terminators or padding; blanks at the end of a STRING
      // its padding.
      std::string_view text = cell->Text;
      while (!text.empty() && (text.back() == '\0' || (c.TrimBlanks && text.back() == ' ')))
        text.remove_suffix(1);
      AppendText(out, text);
      return true;
    }
  }
}

void TSqlRowWriter::AppendRow(std::string& out, std::span<const TKvICellView* const> cells) {
  auto cellAt = [&](std::int32_t k) -> const TKvICellView* {
    return k >= 0 && std::size_t(k) < cells.size() ? cells[std::size_t(k)] : nullptr;
  };
  for (std::size_t i = 0; i < table_.Columns.size(); ++i) {
    const TSqlColumn& c = table_.Columns[i];
    if (i > 0) out.push_back('\t');
    value_.clear();
    if (!c.Array) {
      const TKvICellView* cell = cellAt(c.Cells.empty() ? -1 : c.Cells[0]);
      // Numbers, dates and times hold nothing COPY would read as special.
      const bool plain = !IsTextType(c.Type) && c.Type != tpsBLOB;
      const std::size_t before = out.size();
      if (!AppendValue(plain ? out : value_, c, cell)) {
        out.resize(before);
        out += "\\N";
        continue;
      }
      if (plain) continue;
    } else {
      value_.push_back('{');
      for (std::size_t e = 0; e < c.Cells.size(); ++e) {
        if (e > 0) value_.push_back(',');
        element_.clear();
        if (!AppendValue(element_, c, cellAt(c.Cells[e])))
          value_ += "NULL";
        else if (IsTextType(c.Type) || c.Type == tpsBLOB)
          AppendArrayQuoted(value_, element_);
        else
          value_ += element_;
      }
      value_.push_back('}');
    }
    AppendCopyEscaped(out, value_);
  }
  out.push_back('\n');
}

TSqlRowFormat::TSqlRowFormat(const TSqlTable& table, const TKvCodePage& codePage)
    : table_(table), codePage_(codePage), rows_(table, codePage) {}

void TSqlRowFormat::Prologue(std::vector<std::string>& pieces) {
  pieces.emplace_back();
  AppendSqlTableStart(pieces.back(), table_);
}

bool TSqlRowFormat::AppendRow(std::string& out, const TRowView& row, std::uint64_t limit) {
  cells_.resize(row.Size());
  for (std::size_t k = 0; k < row.Size(); ++k) cells_[k] = row.Cell(k);
  rows_.AppendRow(out, cells_);
  return out.size() <= limit;
}

void TSqlRowFormat::Epilogue(std::vector<std::string>& pieces) {
  pieces.emplace_back();
  AppendSqlTableEnd(pieces.back(), table_);
}

std::unique_ptr<TRowFormat> TSqlRowFormat::CloneForThread() const {
  return std::make_unique<TSqlRowFormat>(table_, codePage_);
}

void TSqlRowFormat::MergeCopy(TRowFormat& copy) {
  const auto& other = static_cast<const TSqlRowFormat&>(copy);
  copiedNuls_ += other.rows_.NulsReplaced() + other.copiedNuls_;
  copiedInvalid_ += other.rows_.InvalidUtf8() + other.copiedInvalid_;
}

void TSqlRowFormat::TallyWarnings(TWarningTally& tally) const {
  tally.Add(kNulsWarning, rows_.NulsReplaced() + copiedNuls_);
  tally.Add(kInvalidUtf8Warning, rows_.InvalidUtf8() + copiedInvalid_);
}
