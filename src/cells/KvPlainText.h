// Plain delimited text (no qualifier, no padding, no value forms): the texts of the
// values written into a line's buffer, by the text layout and by a row source that
// writes such lines straight from its records (TKvIRowSource::AppendPlainRow).
#pragma once

#include <algorithm>
#include <cstddef>

#include "cells/KvCells.h"
#include "cells/KvConvert.h"
#include "cells/KvDateTextCache.h"
#include "cells/KvDecimal.h"

// Room for the longest text WritePlainCellText writes.
inline constexpr std::size_t kPlainCellTextMax =
    std::max({kNumberTextMax, kPackedDecimalTextMax, TDateTextCache::kPartsTextMax});

// Writes at T the text of a cell that is not a String, as the text layout writes it:
// integers, a Double's %.15G text or a packed decimal's exact digits, dates and times
// from their calendar parts. Returns the end, or null when the cell's text needs the
// general way (AppendTextOf, TDateTextCache::Append).
inline char* WritePlainCellText(char* t, const TKvICellView& view, char decimalSeparator,
                                const TDateTextCache& dates) {
  switch (view.Kind) {
    case VarKind::SmallInt:
    case VarKind::Integer:
    case VarKind::Byte:
      return WriteInt(t, view.Int);
    case VarKind::Double:
      if (view.Text.empty()) return WriteFloatG(t, view.Real, 15, decimalSeparator);
      if (view.Text.size() > kPackedDecimalWriteBytes) return nullptr;
      if (char* end = WritePackedDecimalText(t, view.Text, view.PackedDecimals, decimalSeparator))
        return end;
      return WriteFloatG(t, view.Real, 15, decimalSeparator);
    case VarKind::Date:
      return dates.WriteParts(t, view);
    default:
      return nullptr;
  }
}
