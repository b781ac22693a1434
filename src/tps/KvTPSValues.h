// Field values of data records and the texts of MEMO and BLOB fields.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cells/KvCells.h"
#include "cells/KvConvert.h"
#include "cells/KvVariant.h"
#include "tps/KvTPSBytes.h"
#include "tps/KvTPSContainer.h"
#include "tps/KvTPSDamage.h"
#include "tps/KvTPSFields.h"

// Decodes one field of a record: the field's bytes start at payloadStart + Offset.
// Nothing is read past the data; a numeric field cut off by the end of the data gives
// Null. An impossible date or time gives an empty text and adds 1 to invalidDateTimes.
void TpsDecodeField(const TTPSField& field, std::span<const std::uint8_t> data,
                    std::size_t payloadStart, Variant& value, TKvICellType& cellType,
                    std::int64_t& invalidDateTimes);

// The same decoding into a cell view, without copying: a text points into data. The
// view's kind is Null (and the result false) when the field gives no value;
// alignment is right for integers and decimals; FormatIndex is 0.
bool TpsDecodeFieldView(const TTPSField& field, std::span<const std::uint8_t> data,
                        std::size_t payloadStart, TKvICellView& out,
                        std::int64_t& invalidDateTimes);

// TpsDecodeFieldView of the fields Fields[j] for each j of Which into Cells[j]; a field
// that gives no value gets an empty cell (Kind Empty). One call a record: the decoding
// of each field is put inline.
void TpsDecodeFieldViews(std::span<const TTPSField> fields, std::span<const std::uint32_t> which,
                         std::span<const std::uint8_t> data, std::size_t payloadStart,
                         TKvICellView* cells, std::int64_t& invalidDateTimes);

// A memo's text in a row written as a plain line: the field it belongs to.
struct TTPSPlainMemo {
  std::size_t Field = 0;
  std::string_view Text;
};

// How the text of a field's value is written into a plain line, worked out once per
// table (TpsPlainFields).
struct TTPSPlainField {
  std::uint8_t Way = 0;  // the common types are written straight from their bytes
  std::uint8_t Decimals = 0;
  std::uint16_t Offset = 0, Length = 0;
  const TTPSField* Field = nullptr;  // for the other types: decoded into a cell view
};
// The plain-line ways of the fields (which must outlive them).
std::vector<TTPSPlainField> TpsPlainFields(std::span<const TTPSField> fields);

// Appends the plain line of a record (TKvIRowSource::AppendPlainRow): for each of the
// columns (a field index; none past the fields) the text the text layout writes for
// the cell TpsDecodeFieldView gives, or for a memo field its text among Memos (none
// when absent); then the record separator. Arrays written as one text are not
// handled here. NotWritten (Out then holds a part of the line) when a value's text
// needs the general way.
TKvIPlainRow TpsAppendPlainRow(std::span<const TTPSPlainField> fields,
                               std::span<const std::int32_t> columns,
                               std::span<const std::uint8_t> data, std::size_t payloadStart,
                               std::span<const TTPSPlainMemo> memos, const TKvIPlainRowText& text,
                               std::string& out, std::uint64_t limit);

// Whether the field gives a value at all (the decoded value is not Null), without
// decoding it.
bool TpsFieldHasValue(const TTPSField& field, std::span<const std::uint8_t> data,
                      std::size_t payloadStart);

// A stored DATE (year << 16 | month << 8 | day) or TIME (hours << 24 | minutes << 16 |
// seconds << 8 | hundredths) of 0 or four spaces is empty.
inline bool TpsEmptyDateWord(std::uint32_t v) { return v == 0 || v == 0x20202020u; }

// Whether a stored TIME gives a time of day; the hours' top bit is not part of it.
inline bool TpsTimeWordIsPossible(std::uint32_t t) {
  return (t & 0xFF) <= 99 && ((t >> 24) & 0x7F) <= 23 && ((t >> 16) & 0xFF) <= 59 &&
         ((t >> 8) & 0xFF) <= 59;
}

// Whether a DATE or TIME field holds a value that is neither empty (0 or spaces) nor a
// possible date or time: what the decoding counts as impossible, without decoding.
// Inline: the load asks it of every date of every record.
inline bool TpsFieldIsImpossibleDate(const TTPSField& f, std::span<const std::uint8_t> data,
                                     std::size_t payloadStart) {
  if (f.Type != tpsDate && f.Type != tpsTime) return false;
  const std::size_t p = payloadStart + f.Offset;
  if (p >= data.size() || data.size() - p < 4) return false;
  const std::uint32_t v = TpsLe32(data.data() + p);
  if (TpsEmptyDateWord(v)) return false;
  return f.Type == tpsDate ? !IsValidDate(int(v >> 16), int((v >> 8) & 0xFF), int(v & 0xFF))
                           : !TpsTimeWordIsPossible(v);
}

// An array field (elements > 1) as one text: "(" elements joined by separator ")".
// The cell type is that of the last element.
void TpsDecodeArray(const TTPSField& field, std::span<const std::uint8_t> data,
                    std::size_t payloadStart, std::string_view separator, Variant& value,
                    TKvICellType& cellType, std::int64_t& invalidDateTimes);

// The memo list, sorted once, from which memo texts are assembled by bisection.
// Pieces are used once: their bytes are released as they are taken.
class TTPSMemoIndex {
 public:
  // Sorts the memo list by table number, record number, memo number, sequence number
  // and insertion number. With a store, only the first piece of each of these keys is
  // kept (one stored again with other bytes is reported to damage); with damage,
  // memos assembled later with a gap in their pieces, and BLOBs whose pieces fall
  // short of or run past their length, are reported there.
  void Sort(TTPSRecords& memos, TTPSByteStore* store = nullptr, TTPSDamage* damage = nullptr);
  // The text of memo `memo` of row `row` (record number - 1) of table `table`: the
  // pieces in sequence order. For a BLOB the leading 4-byte length is dropped and at
  // most that many bytes are kept. Empty when there are no (unused) pieces.
  std::string Assemble(TTPSRecords& memos, TTPSByteStore& store, std::int32_t table,
                       std::uint8_t memo, std::int32_t row, bool blob);
  // The same, searching from cursor (a position in the sorted list, moved past the
  // pieces found): a run of calls with rising keys costs constant time per call.
  std::string Assemble(TTPSRecords& memos, TTPSByteStore& store, std::int32_t table,
                       std::uint8_t memo, std::int32_t row, bool blob, std::size_t& cursor);

 private:
  struct Key {
    std::int32_t Table;
    std::int32_t Record;
    std::uint8_t Memo;
    std::uint16_t Sequence;
  };
  TTPSDamage* damage_ = nullptr;
  std::vector<Key> keys_;  // parallel to the sorted memo list
};
