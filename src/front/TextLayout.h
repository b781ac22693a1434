// The delimited and fixed-width text layout: an optional header line of column names and
// a line of type letters, then one line per row, values delimited (optionally enclosed
// in a qualifier) or padded to fixed widths.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cells/KvDateTextCache.h"
#include "cells/KvTableSchema.h"
#include "front/RowFormat.h"
#include "front/RunOptions.h"
#include "front/ValueForms.h"

// The width of a column in the fixed-width layout: the larger of its name's length and
// the width of its type (3 Byte, 5 Short and UShort, 8 Long and ULong, 15 Float, Double
// and Decimal, the size in bytes for the others).
std::int32_t FieldWidth(const TTableColumn& column);

// T preceded by spaces up to W characters; a longer text is kept whole.
void AppendPadLeft(std::string& out, std::string_view text, std::int32_t width);
// T followed by spaces up to W characters; a longer text is kept whole.
void AppendPadRight(std::string& out, std::string_view text, std::int32_t width);
std::string PadLeft(std::string_view text, std::int32_t width);
std::string PadRight(std::string_view text, std::int32_t width);
// Q + T + Q, every Q inside T doubled.
void AppendQuoteText(std::string& out, std::string_view text, std::string_view qualifier);
std::string QuoteText(std::string_view text, std::string_view qualifier);

class TTextLayout final : public TRowFormat {
 public:
  // Reads Delimiter, Qualifier, RecordSeparator, Fixed, Header and TypeLine.
  explicit TTextLayout(const TRunOptions& options);
  void Begin(const TTableContext& table) override;
  void Prologue(std::vector<std::string>& pieces) override;
  bool AppendRow(std::string& out, const TRowView& row, std::uint64_t limit) override;
  void Epilogue(std::vector<std::string>& pieces) override;
  std::unique_ptr<TRowFormat> CloneForThread() const override;
  void MergeCopy(TRowFormat& copy) override;
  void TallyWarnings(TWarningTally& tally) const override;
  const TKvIPlainRowText* PlainRowText() override;

 private:
  // What the switches ask for.
  struct TSwitches {
    std::string Delimiter, Qualifier, RecordSeparator;
    bool Fixed = false, Header = false, TypeLine = false;
    // The qualifier encloses only values that need it (RFC 4180); Bom: the UTF-8 byte
    // order mark first (with /UTF8).
    bool QualifyNeeded = false, Bom = false;
  };
  // What every copy of one table shares.
  struct TShape;
  explicit TTextLayout(std::shared_ptr<const TShape> shape);
  // Appends the delimiter (not before the first field) and the text T of field K.
  void AddField(std::string& line, std::size_t k, std::string_view t) const;
  // Appends the text of selected column K; "#error#" when it cannot be read or converted.
  void AppendCellText(std::string& out, const TRowView& row, std::size_t k);
  // AppendRow for plain delimited text (no qualifier, not fixed, a delimiter of at most
  // one character, no value forms) of a row that was read: the common values are
  // written into a small buffer appended to Out a row at a time, the rest as
  // AppendCellText writes them.
  bool AppendPlainRow(std::string& out, const TRowView& row, std::uint64_t limit);

  TSwitches switches_;
  std::shared_ptr<const TShape> shape_;
  std::unique_ptr<TDateTextCache> dates_;
  // The forms of values for other tools; null when no switch asks for them, and the
  // values are written as they always were.
  std::unique_ptr<TValueForms> forms_;
  std::string text_, padded_;
  TKvIPlainRowText plainText_;
};
