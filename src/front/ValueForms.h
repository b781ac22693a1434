// The forms of values for other tools: what /UTF8, /CODEPAGE=, /BLOB=, /TRIM,
// /DATES=, /TIMES= and the locale-independent values of /CSV make of a cell's
// text. A text layout asks Active() once per table and, when none of these is
// in effect, writes its cells as before, at no cost.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cells/KvCells.h"
#include "cells/KvCodePage.h"
#include "cells/KvDateTextCache.h"
#include "cells/KvSettings.h"
#include "cells/KvTableSchema.h"
#include "front/BlobFiles.h"
#include "front/RowFormat.h"
#include "front/RunOptions.h"

// Whether any switch of text for other tools changes how values are written.
bool ValueFormsActive(const TRunOptions& options);

// Whether a list of lower-cased names each followed by ";" (/FIELDS=, /DATES=) holds
// Name, in any letter case.
bool NameListHolds(const std::string& list, std::string_view name);

class TValueForms {
 public:
  explicit TValueForms(const TRunOptions& options);
  // Prepares the rules of the selected columns of a table (on the writing
  // thread).
  void Begin(const TTableContext& table);
  // Appends the text of selected column K of Row (Cell, null for none),
  // unquoted.
  void Append(std::string& out, const TRowView& row, std::size_t k, const TKvICellView* cell);
  // A text (a field name, a table name) as written: transcoded under /UTF8.
  void AppendText(std::string& out, std::string_view text);
  bool Utf8() const { return utf8_; }

  // A copy for another thread: the same table, counts and caches of its own.
  std::unique_ptr<TValueForms> Clone() const;
  void Merge(const TValueForms& copy);
  void TallyWarnings(TWarningTally& tally) const;

  // The warning texts (after "Warning: <count> ").
  static constexpr const char* kImpossibleDates =
      "impossible date or time values were written as empty text.";
  static constexpr const char* kInvalidUtf8 = "invalid UTF-8 sequences were written as U+FFFD.";

 private:
  enum class TRule : std::uint8_t { Plain, FixedString, Blob, DayDate, DayTime };
  void AppendDate(std::string& out, double value);
  // A table or field name as part of a BLOB's file name: as AppendText where file names
  // are UTF-8, the stored bytes elsewhere.
  void AppendFileNamePart(std::string& out, std::string_view text);
  void AppendBlob(std::string& out, const TRowView& row, std::size_t k, std::string_view bytes);

  // The run's choices.
  const TRunOptions options_;
  const TKvCodePage* codePage_;
  const bool utf8_, iso_, trim_;
  const TBlobForm blob_;
  FormatSettings settings_;  // the run's, or the ISO ones
  // The table's.
  const TTableSchema* schema_ = nullptr;
  std::vector<TRule> rules_;  // by selected column
  TBlobFiles files_;
  std::unique_ptr<TDateTextCache> dates_;
  std::int64_t impossible_ = 0, invalidUtf8_ = 0;
  std::string scratch_;
};
