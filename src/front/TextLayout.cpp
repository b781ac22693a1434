#include "front/TextLayout.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "cells/KvCells.h"
#include "cells/KvConvert.h"
#include "cells/KvDecimal.h"
#include "cells/KvPlainText.h"
#include "cells/KvSettings.h"

namespace {

// Width of a value of each numeric type in the fixed-width layout; 0 = the column's
// size.
std::int32_t TypeWidth(const TTableColumn& c) {
  switch (c.Type) {
    case tpsByte:
      return 3;
    case tpsShort:
    case tpsUShort:
      return 5;
    case tpsLong:
    case tpsULong:
      return 8;
    case tpsFloat:
    case tpsDouble:
    case tpsDecimal:
      return 15;
    default:
      return c.Size;
  }
}

}  // namespace

std::int32_t FieldWidth(const TTableColumn& column) {
  const std::int32_t nameLength = std::int32_t(column.Name.size());
  const std::int32_t typeWidth = TypeWidth(column);
  return nameLength > typeWidth ? nameLength : typeWidth;
}

void AppendPadLeft(std::string& out, std::string_view text, std::int32_t width) {
  if (std::int64_t(text.size()) < width) out.append(std::size_t(width) - text.size(), ' ');
  out.append(text);
}

void AppendPadRight(std::string& out, std::string_view text, std::int32_t width) {
  out.append(text);
  if (std::int64_t(text.size()) < width) out.append(std::size_t(width) - text.size(), ' ');
}

std::string PadLeft(std::string_view text, std::int32_t width) {
  std::string out;
  AppendPadLeft(out, text, width);
  return out;
}

std::string PadRight(std::string_view text, std::int32_t width) {
  std::string out;
  AppendPadRight(out, text, width);
  return out;
}

void AppendQuoteText(std::string& out, std::string_view text, std::string_view qualifier) {
  out.append(qualifier);
  if (qualifier.size() == 1) {
    // Every qualifier character inside the text is written twice.
    const char q = qualifier[0];
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(q, from)) != std::string_view::npos; from = at + 1) {
      out.append(text.substr(from, at + 1 - from));
      out.push_back(q);
    }
    out.append(text.substr(from));
  } else if (qualifier.empty()) {
    out.append(text);
  } else {
    // A longer qualifier: walk from the last position to the first and insert a second
    // qualifier wherever the text (as changed so far) continues with it.
    std::string s(text);
    for (std::size_t p = s.size(); p-- > 0;)
      if (s.compare(p, qualifier.size(), qualifier) == 0) s.insert(p, qualifier);
    out.append(s);
  }
  out.append(qualifier);
}

std::string QuoteText(std::string_view text, std::string_view qualifier) {
  std::string out;
  AppendQuoteText(out, text, qualifier);
  return out;
}

// How the lines of a table are laid out, worked out once per table.
struct TTextLayout::TShape {
  TShape(const TSwitches& s, const TTableContext& table)
      : switches(s),
        settings(*table.Settings),
        delimit(s.Delimiter != kNoneMarker),
        qualify(s.Qualifier != kNoneMarker),
        direct(!qualify && !s.Fixed),
        qualifyNeeded(qualify && s.QualifyNeeded),
        oneCharDelimiter(delimit && s.Delimiter.size() == 1),
        delimiterChar(oneCharDelimiter ? s.Delimiter[0] : '\0'),
        plainRows(direct && (!delimit || oneCharDelimiter)) {
    for (const std::int32_t column : table.Columns) {
      const TTableColumn& c = table.Schema->Columns[std::size_t(column)];
      columns.push_back({&c, FieldWidth(c), c.Numeric});
    }
    // The bytes that make a value need the qualifier: CR, LF, and a one-character
    // delimiter or qualifier (longer ones are looked for as they are).
    special[std::uint8_t('\r')] = special[std::uint8_t('\n')] = true;
    if (oneCharDelimiter) special[std::uint8_t(delimiterChar)] = true;
    if (s.Qualifier.size() == 1) special[std::uint8_t(s.Qualifier[0])] = true;
  }
  // Whether T holds the delimiter, the qualifier, CR or LF.
  bool NeedsQualifier(std::string_view t) const {
    for (const char c : t)
      if (special[std::uint8_t(c)]) return true;
    return (delimit && !oneCharDelimiter && t.find(switches.Delimiter) != std::string_view::npos) ||
           (switches.Qualifier.size() > 1 && t.find(switches.Qualifier) != std::string_view::npos);
  }
  struct TColumn {
    const TTableColumn* Column;
    std::int32_t Width;  // FieldWidth, used when Fixed
    bool Numeric;
  };
  const TSwitches switches;
  const FormatSettings& settings;
  std::vector<TColumn> columns;  // the selected columns
  const bool delimit, qualify;
  const bool direct;            // plain delimited text: values go straight into the line
  const bool qualifyNeeded;     // the qualifier only around values that need it
  bool special[256] = {};       // NeedsQualifier's bytes
  const bool oneCharDelimiter;  // the usual case, added as a character
  const char delimiterChar;
  const bool plainRows;  // rows go through AppendPlainRow (unless value forms are on)
};

TTextLayout::TTextLayout(const TRunOptions& options)
    : switches_{options.Delimiter,
                options.Qualifier,
                options.RecordSeparator,
                options.Fixed,
                options.Header,
                options.TypeLine,
                options.Qualify == TQualify::Needed,
                options.Utf8 && options.Bom} {
  if (ValueFormsActive(options)) forms_ = std::make_unique<TValueForms>(options);
}

TTextLayout::TTextLayout(std::shared_ptr<const TShape> shape)
    : switches_(shape->switches),
      shape_(std::move(shape)),
      dates_(std::make_unique<TDateTextCache>(shape_->settings)) {}

void TTextLayout::Begin(const TTableContext& table) {
  shape_ = std::make_shared<const TShape>(switches_, table);
  dates_ = std::make_unique<TDateTextCache>(shape_->settings);
  if (forms_) forms_->Begin(table);
}

std::unique_ptr<TRowFormat> TTextLayout::CloneForThread() const {
  auto copy = std::unique_ptr<TTextLayout>(new TTextLayout(shape_));
  if (forms_) copy->forms_ = forms_->Clone();
  return copy;
}

void TTextLayout::MergeCopy(TRowFormat& copy) {
  auto& other = static_cast<TTextLayout&>(copy);
  if (forms_ && other.forms_) forms_->Merge(*other.forms_);
}

void TTextLayout::TallyWarnings(TWarningTally& tally) const {
  if (forms_) forms_->TallyWarnings(tally);
}

void TTextLayout::AddField(std::string& line, std::size_t k, std::string_view t) const {
  const TShape& l = *shape_;
  if (k > 0 && l.delimit) line += l.switches.Delimiter;
  if (t.empty()) return;
  if (l.qualify && (!l.qualifyNeeded || l.NeedsQualifier(t)))
    AppendQuoteText(line, t, l.switches.Qualifier);
  else
    line.append(t);
}

void TTextLayout::Prologue(std::vector<std::string>& pieces) {
  const TShape& l = *shape_;
  const bool fixed = l.switches.Fixed;
  if (l.switches.Bom) pieces.emplace_back(kUtf8Bom);
  if (l.switches.Header) {
    std::string line;
    for (std::size_t k = 0; k < l.columns.size(); ++k) {
      const TShape::TColumn& c = l.columns[k];
      std::string name;
      if (forms_)
        forms_->AppendText(name, c.Column->Name);
      else
        name = c.Column->Name;
      if (fixed)
        AddField(line, k, PadRight(name, c.Width));
      else
        AddField(line, k, name);
    }
    pieces.push_back(line + l.switches.RecordSeparator);
  }
  if (l.switches.TypeLine) {
    std::string line;
    for (std::size_t k = 0; k < l.columns.size(); ++k) {
      const TShape::TColumn& c = l.columns[k];
      const std::string letter(1, c.Column->Letter);
      AddField(line, k, fixed ? PadRight(letter, c.Width) : letter);
    }
    pieces.push_back(line + l.switches.RecordSeparator);
  }
}

void TTextLayout::Epilogue(std::vector<std::string>& /*pieces*/) {}

void TTextLayout::AppendCellText(std::string& out, const TRowView& row, std::size_t k) {
  const std::size_t mark = out.size();
  try {
    const TKvICellView* view = row.Cell(k);
    if (forms_)
      forms_->Append(out, row, k, view);
    else if (!view)
      return;
    else if (view->Kind == VarKind::String)
      out.append(view->Text);  // as AppendTextOf, without the call
    else if (view->Kind == VarKind::Date)
      dates_->Append(out, *view);
    else
      AppendTextOf(out, *view, shape_->settings);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    out.resize(mark);
    out += "#error#";
  }
}

bool TTextLayout::AppendPlainRow(std::string& out, const TRowView& row, std::uint64_t limit) {
  const TShape& l = *shape_;
  // Room for the delimiter and the longest text a number or a date written here takes.
  constexpr std::size_t kRoom = 1 + kPlainCellTextMax;
  char buffer[512];
  char* t = buffer;
  char* const end = buffer + sizeof buffer;
  const auto flush = [&] {
    out.append(buffer, std::size_t(t - buffer));
    t = buffer;
  };
  // Copied out of the shape and the row: the compiler cannot know that the bytes
  // written here leave them unchanged.
  const char decimalSeparator = l.settings.DecimalSeparator;
  const bool delimit = l.delimit;
  const char delimiter = l.delimiterChar;
  const std::span<const TKvICellView> cells = row.CellsByColumn();
  const std::span<const std::int32_t> columns = row.Columns();
  const std::size_t n = columns.size();
  // The limit is checked whenever Out grows, and for the buffer at the row's end.
  for (std::size_t k = 0; k < n; ++k) {
    if (std::size_t(end - t) < kRoom) {
      flush();
      if (out.size() > limit) return false;
    }
    if (k > 0 && delimit) *t++ = delimiter;
    const TKvICellView* view = CellInRow(cells, columns[k]);
    char* written = t;  // no cell, no text
    if (view) {
      if (view->Kind != VarKind::String)
        written = WritePlainCellText(t, *view, decimalSeparator, *dates_);
      else if (view->Text.size() > std::size_t(end - t))
        written = nullptr;
      else if (!view->Text.empty())
        written = static_cast<char*>(std::memcpy(t, view->Text.data(), view->Text.size())) +
                  view->Text.size();
    }
    if (written) {
      t = written;
    } else {
      flush();
      AppendCellText(out, row, k);
      if (out.size() > limit) return false;
    }
  }
  if (out.size() + std::size_t(t - buffer) > limit) {
    flush();
    return false;
  }
  const std::string& separator = l.switches.RecordSeparator;
  if (separator.size() <= std::size_t(end - t)) {
    std::memcpy(t, separator.data(), separator.size());
    t += separator.size();
    flush();
  } else {
    flush();
    out += separator;
  }
  return true;
}

const TKvIPlainRowText* TTextLayout::PlainRowText() {
  const TShape& l = *shape_;
  // Lines that AppendPlainRow writes whole, dates and times included.
  if (!l.plainRows || forms_ || !dates_->PartsGivePlainText()) return nullptr;
  plainText_ = {l.delimit, l.delimiterChar, l.settings.DecimalSeparator, l.switches.RecordSeparator,
                dates_.get()};
  return &plainText_;
}

bool TTextLayout::AppendRow(std::string& out, const TRowView& row, std::uint64_t limit) {
  const TShape& l = *shape_;
  if (l.plainRows && !forms_ && !row.Failed()) return AppendPlainRow(out, row, limit);
  for (std::size_t k = 0; k < l.columns.size(); ++k) {
    if (l.direct) {
      if (k > 0 && l.delimit) {
        if (l.oneCharDelimiter)
          out.push_back(l.delimiterChar);
        else
          out += l.switches.Delimiter;
      }
      AppendCellText(out, row, k);
    } else {
      text_.clear();
      AppendCellText(text_, row, k);
      if (l.switches.Fixed) {
        const TShape::TColumn& c = l.columns[k];
        padded_.clear();
        if (c.Numeric)
          AppendPadLeft(padded_, text_, c.Width);
        else
          AppendPadRight(padded_, text_, c.Width);
        AddField(out, k, padded_);
      } else {
        AddField(out, k, text_);
      }
    }
    if (out.size() > limit) return false;
  }
  out += l.switches.RecordSeparator;
  return true;
}
