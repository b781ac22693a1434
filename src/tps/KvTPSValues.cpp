#include "tps/KvTPSValues.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numeric>
#include <tuple>

#include "cells/KvConvert.h"
#include "cells/KvPlainText.h"
#include "cells/KvSettings.h"
#include "tps/KvTPSBytes.h"
#include "tps/KvTPSRecords.h"

namespace {

// 48-bit real: b0 is the biased exponent, bit 7 of b5 the sign, the rest the fraction.
double Real48(const std::uint8_t* b) {
  if (b[0] == 0) return 0;
  double frac = 0;
  for (int i = 1; i <= 4; ++i) frac = (frac + b[i]) / 256.0;
  frac = (frac + (b[5] & 0x7F)) / 128.0;
  double v = std::ldexp(1.0 + frac, int(b[0]) - 129);
  return (b[5] & 0x80) ? -v : v;
}

// The value of a byte of two packed digits (0 to 99); 0xFF when a nibble is no digit.
constexpr auto kPackedPairs = [] {
  std::array<std::uint8_t, 256> pairs{};
  for (int b = 0; b < 256; ++b)
    pairs[std::size_t(b)] =
        (b >> 4) > 9 || (b & 0x0F) > 9 ? 0xFF : std::uint8_t((b >> 4) * 10 + (b & 0x0F));
  return pairs;
}();

// Whether every nibble of the N bytes of a packed decimal but the sign is a digit
// (Decimal's check).
bool PackedDigits(const std::uint8_t* b, std::size_t n) {
  if ((b[0] & 0x0F) > 9) return false;
  for (std::size_t i = 1; i < n; ++i)
    if (kPackedPairs[b[i]] > 99) return false;
  return true;
}

// Packed decimal: the high nibble of the first byte is the sign, its low nibble the
// first digit, then two digits per byte. False when a nibble is not a digit. The
// value is that of the digit text with a point before the last `decimals` digits (no
// point when there are fewer digits than that).
bool Decimal(const std::uint8_t* b, std::size_t n, int decimals, double& out) {
  out = 0;
  if (n == 0 || n >= 30) return true;
  if (n <= 8) {
    // Up to 15 digits, read straight into the whole number (see below).
    std::uint64_t whole = b[0] & 0x0F;
    if (whole > 9) return false;
    for (std::size_t i = 1; i < n; ++i) {
      const std::uint8_t pair = kPackedPairs[b[i]];
      if (pair > 99) return false;
      whole = whole * 100 + pair;
    }
    const double v = decimals >= 1 && std::size_t(decimals) <= 2 * n - 1
                         ? double(std::int64_t(whole)) / kPowersOfTen[std::size_t(decimals)]
                         : double(std::int64_t(whole));
    out = ((b[0] >> 4) != 0 && v != 0) ? -v : v;
    return true;
  }
  char digits[64];
  std::size_t nd = 0;
  if ((b[0] & 0x0F) > 9) return false;
  digits[nd++] = char('0' + (b[0] & 0x0F));
  for (std::size_t i = 1; i < n; ++i) {
    std::uint8_t hi = b[i] >> 4, lo = b[i] & 0x0F;
    if (hi > 9 || lo > 9) return false;
    digits[nd++] = char('0' + hi);
    digits[nd++] = char('0' + lo);
  }
  const bool point = decimals >= 1 && std::size_t(decimals) <= nd;
  double v = 0;
  if (nd <= 15) {
    // Up to 15 digits the whole number and the power of ten are exact doubles, so one
    // division gives the correctly rounded value, as reading the text would.
    std::int64_t whole = 0;
    for (std::size_t i = 0; i < nd; ++i) whole = whole * 10 + (digits[i] - '0');
    v = point ? double(whole) / kPowersOfTen[std::size_t(decimals)] : double(whole);
  } else {
    char text[72];
    std::size_t len = 0;
    text[len++] = '0';  // so that a point never comes first
    for (std::size_t i = 0; i < nd; ++i) {
      if (point && i == nd - std::size_t(decimals)) text[len++] = '.';
      text[len++] = digits[i];
    }
    auto res = std::from_chars(text, text + len, v);
    if (res.ec != std::errc()) return false;
  }
  out = ((b[0] >> 4) != 0 && v != 0) ? -v : v;  // no negative zero
  return true;
}

void SetText(TKvICellView& out, const std::uint8_t* p, std::size_t n) {
  out.Kind = VarKind::String;
  out.Text = std::string_view(reinterpret_cast<const char*>(p), n);
}

bool DateWordEncodes(std::uint32_t d, TDateTime& dt) {
  return TryEncodeDate(int(d >> 16), int((d >> 8) & 0xFF), int(d & 0xFF), dt);
}

bool TimeWordEncodes(std::uint32_t t, TDateTime& dt) {
  return TpsTimeWordIsPossible(t) && TryEncodeTime(int((t >> 24) & 0x7F), int((t >> 16) & 0xFF),
                                                   int((t >> 8) & 0xFF), int(t & 0xFF) * 10, dt);
}

}  // namespace

namespace {

[[gnu::always_inline]] inline bool DecodeFieldView(const TTPSField& f,
                                                   std::span<const std::uint8_t> data,
                                                   std::size_t payloadStart, TKvICellView& out,
                                                   std::int64_t& invalid) {
  out.Kind = VarKind::Null;
  out.CellType = ictEmpty;
  out.Alignment = taLeftJustify;
  out.FormatIndex = 0;
  out.Int = 0;
  out.Real = 0;
  out.Text = {};
  out.PackedDecimals = 0;
  const std::size_t p = payloadStart + f.Offset;
  const std::size_t avail = p < data.size() ? data.size() - p : 0;
  const std::uint8_t* b = data.data() + std::min(p, data.size());
  auto integer = [&](std::int64_t v) {
    out.Kind = VarKind::Integer, out.Int = v, out.CellType = ictInteger;
    out.Alignment = taRightJustify;
  };
  auto real = [&](VarKind kind, double v) {
    out.Kind = kind, out.Real = v, out.CellType = ictDecimal;
    out.Alignment = taRightJustify;
  };
  switch (f.Type) {
    case tpsByte:
      if (avail >= 1) integer(b[0]);
      break;
    case tpsShort:
      if (avail >= 2) integer(std::int16_t(b[0] | b[1] << 8));
      break;
    case tpsUShort:
      if (avail >= 2) integer(std::uint16_t(b[0] | b[1] << 8));
      break;
    case tpsLong:
      if (avail >= 4) integer(std::int32_t(TpsLe32(b)));
      break;
    case tpsULong:
      if (avail >= 4) {
        std::uint32_t u = TpsLe32(b);
        // Values from 2^31 up keep their unsigned value.
        if (u <= 0x7FFFFFFFu) {
          integer(std::int32_t(u));
        } else {
          out.Kind = VarKind::Double, out.Real = double(u), out.CellType = ictInteger;
          out.Alignment = taRightJustify;
        }
      }
      break;
    case tpsDate:
      if (avail >= 4) {
        out.CellType = ictDate;
        std::uint32_t d = TpsLe32(b);
        TDateTime dt;
        if (TpsEmptyDateWord(d)) {
          out.Kind = VarKind::String;
        } else if (DateWordEncodes(d, dt)) {
          out.Kind = VarKind::Date, out.Real = dt, out.Int = TKvICellView::kCellDateParts | d;
        } else {
          out.Kind = VarKind::String;
          ++invalid;
        }
      }
      break;
    case tpsTime:
      if (avail >= 4) {
        out.CellType = ictDate;
        std::uint32_t t = TpsLe32(b);
        TDateTime dt;
        if (TpsEmptyDateWord(t)) {
          out.Kind = VarKind::String;
        } else if (TimeWordEncodes(t, dt)) {
          out.Kind = VarKind::Date, out.Real = dt;
          out.Int = TKvICellView::kCellTimeParts | (t & 0x7FFFFFFFu);
        } else {
          out.Kind = VarKind::String;
          ++invalid;
        }
      }
      break;
    case tpsFloat:
      // SREAL when declared with 4 bytes, the 48-bit real otherwise.
      if (f.Length == 4) {
        if (avail >= 4) {
          float v;
          std::memcpy(&v, b, 4);
          real(VarKind::Single, v);
        }
      } else if (avail >= 6) {
        real(VarKind::Double, Real48(b));
      }
      break;
    case tpsDouble:
      if (avail >= 8) {
        double v;
        std::memcpy(&v, b, 8);
        real(VarKind::Double, v);
      }
      break;
    case tpsDecimal:
      if (f.Length >= 30 || f.Length == 0) {
        real(VarKind::Double, 0);
      } else if (avail >= f.Length) {
        double v;
        if (Decimal(b, f.Length, f.Decimals, v)) {
          real(VarKind::Double, v);
          // The stored bytes go with the Double, for writers that give every digit.
          out.Text = std::string_view(reinterpret_cast<const char*>(b), f.Length);
          out.PackedDecimals = f.Decimals;
        }
      }
      break;
    case tpsChar:
      if (f.Length > 0 && avail > 0) {
        SetText(out, b, std::min<std::size_t>(f.Length, avail));
        out.CellType = ictString;
      }
      break;
    case tpsVarChar: {
      // Up to the first zero byte, within the field's bytes and the data.
      std::size_t limit = f.Length ? std::min<std::size_t>(f.Length, avail) : avail;
      const void* z = limit ? std::memchr(b, 0, limit) : nullptr;
      std::size_t n = z ? std::size_t(static_cast<const std::uint8_t*>(z) - b) : limit;
      SetText(out, b, n);
      out.CellType = ictString;
      break;
    }
    case tpsMaskString:
      if (avail >= 1) {
        std::size_t n = std::min<std::size_t>(b[0], avail - 1);
        if (f.Length) n = std::min<std::size_t>(n, f.Length > 0 ? f.Length - 1u : 0u);
        SetText(out, b + 1, n);
        out.CellType = ictString;
      }
      break;
    default:  // Unknown, Group, String, and MEMO/BLOB (decoded from memo records)
      break;
  }
  return out.Kind != VarKind::Null;
}

}  // namespace

bool TpsDecodeFieldView(const TTPSField& f, std::span<const std::uint8_t> data,
                        std::size_t payloadStart, TKvICellView& out, std::int64_t& invalid) {
  return DecodeFieldView(f, data, payloadStart, out, invalid);
}

void TpsDecodeFieldViews(std::span<const TTPSField> fields, std::span<const std::uint32_t> which,
                         std::span<const std::uint8_t> data, std::size_t payloadStart,
                         TKvICellView* cells, std::int64_t& invalid) {
  for (const std::uint32_t j : which)
    if (!DecodeFieldView(fields[j], data, payloadStart, cells[j], invalid))
      cells[j] = TKvICellView{};
}

namespace {

// The ways of TTPSPlainField.
enum : std::uint8_t {
  kPlainDecoded,  // decoded into a cell view, whose text is written
  kPlainMemo,
  kPlainLong,
  kPlainShort,
  kPlainUShort,
  kPlainByte,
  kPlainChar,
  kPlainDouble,
  kPlainDecimal,  // of 1 to kPackedDecimalWriteBytes bytes
  kPlainDate,
  kPlainTime,
};

}  // namespace

std::vector<TTPSPlainField> TpsPlainFields(std::span<const TTPSField> fields) {
  std::vector<TTPSPlainField> ways;
  for (const TTPSField& f : fields) {
    TTPSPlainField w;
    w.Decimals = f.Decimals;
    w.Offset = f.Offset;
    w.Length = f.Length;
    w.Field = &f;
    switch (f.Type) {
      case tpsLong:
        w.Way = kPlainLong;
        break;
      case tpsShort:
        w.Way = kPlainShort;
        break;
      case tpsUShort:
        w.Way = kPlainUShort;
        break;
      case tpsByte:
        w.Way = kPlainByte;
        break;
      case tpsChar:
        w.Way = kPlainChar;
        break;
      case tpsDouble:
        w.Way = kPlainDouble;
        break;
      case tpsDecimal:
        if (f.Length >= 1 && f.Length <= kPackedDecimalWriteBytes) w.Way = kPlainDecimal;
        break;
      case tpsDate:
        w.Way = kPlainDate;
        break;
      case tpsTime:
        w.Way = kPlainTime;
        break;
      default:
        if (f.IsMemo()) w.Way = kPlainMemo;
        break;
    }
    ways.push_back(w);
  }
  return ways;
}

TKvIPlainRow TpsAppendPlainRow(std::span<const TTPSPlainField> fields,
                               std::span<const std::int32_t> columns,
                               std::span<const std::uint8_t> data, std::size_t payloadStart,
                               std::span<const TTPSPlainMemo> memos, const TKvIPlainRowText& text,
                               std::string& out, std::uint64_t limit) {
  // The line is put together in a small buffer appended to Out when full and at its end;
  // a text longer than the room left goes to Out directly.
  constexpr std::size_t kRoom = 1 + kPlainCellTextMax;  // a delimiter and a value's text
  char buffer[512];
  char* t = buffer;
  char* const end = buffer + sizeof buffer;
  // Both put inline: a call would keep T in memory for the whole line.
  const auto flush = [&]() __attribute__((always_inline)) {
    out.append(buffer, std::size_t(t - buffer));
    t = buffer;
  };
  const auto addText = [&](const void* p, std::size_t n) __attribute__((always_inline)) {
    if (n == 0) return;  // an empty text may have no bytes at all (a null pointer)
    if (n <= std::size_t(end - t)) {
      std::memcpy(t, p, n);
      t += n;
    } else {
      flush();
      out.append(static_cast<const char*>(p), n);
    }
  };
  const bool delimit = text.Delimit;
  const char delimiter = text.Delimiter;
  const char decimalSeparator = text.DecimalSeparator;
  const TDateTextCache& dates = *text.Dates;
  const std::uint8_t* const bytes = data.data();
  const std::size_t size = data.size();
  std::int64_t invalid = 0;  // impossible dates were counted when the file was loaded
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (std::size_t(end - t) < kRoom) {
      flush();
      if (out.size() > limit) return TKvIPlainRow::PastLimit;
    }
    if (k > 0 && delimit) *t++ = delimiter;
    const std::int32_t c = columns[k];
    if (c < 0 || std::size_t(c) >= fields.size()) continue;
    const TTPSPlainField& f = fields[std::size_t(c)];
    // As DecodeFieldView: the field's bytes, those within the data.
    const std::size_t p = payloadStart + f.Offset;
    const std::size_t avail = p < size ? size - p : 0;
    const std::uint8_t* const b = bytes + std::min(p, size);
    switch (f.Way) {
      case kPlainLong:
        if (avail >= 4) t = WriteInt(t, std::int32_t(TpsLe32(b)));
        break;
      case kPlainShort:
        if (avail >= 2) t = WriteInt(t, std::int16_t(b[0] | b[1] << 8));
        break;
      case kPlainUShort:
        if (avail >= 2) t = WriteInt(t, std::uint16_t(b[0] | b[1] << 8));
        break;
      case kPlainByte:
        if (avail >= 1) t = WriteInt(t, b[0]);
        break;
      case kPlainChar:
        if (f.Length > 0 && avail > 0) addText(b, std::min<std::size_t>(f.Length, avail));
        break;
      case kPlainDouble:
        if (avail >= 8) {
          double v;
          std::memcpy(&v, b, 8);
          t = WriteFloatG(t, v, 15, decimalSeparator);
        }
        break;
      case kPlainDecimal:
        // The stored digits when they give the text, otherwise the Double's.
        if (avail >= f.Length && PackedDigits(b, f.Length)) {
          const std::string_view packed(reinterpret_cast<const char*>(b), f.Length);
          if (char* written = WritePackedDecimalText(t, packed, f.Decimals, decimalSeparator)) {
            t = written;
          } else {
            double v;
            Decimal(b, f.Length, f.Decimals, v);
            t = WriteFloatG(t, v, 15, decimalSeparator);
          }
        }
        break;
      case kPlainDate:
        if (avail >= 4) {
          const std::uint32_t d = TpsLe32(b);
          const std::uint32_t year = d >> 16, month = (d >> 8) & 0xFF, day = d & 0xFF;
          // An empty or impossible date has no text; day 0 (1899-12-30) and years before
          // 1000 take the general way.
          if (TpsEmptyDateWord(d) || !IsValidDate(int(year), int(month), int(day))) break;
          if (year < 1000 || (year == 1899 && month == 12 && day == 30))
            return TKvIPlainRow::NotWritten;
          char* const written = dates.WriteDate(t, year, month, day);
          if (!written) return TKvIPlainRow::NotWritten;
          t = written;
        }
        break;
      case kPlainTime:
        if (avail >= 4) {
          const std::uint32_t w = TpsLe32(b);
          if (TpsEmptyDateWord(w) || !TpsTimeWordIsPossible(w)) break;
          char* const written =
              dates.WriteTime(t, (w >> 24) & 0x7F, (w >> 16) & 0xFF, (w >> 8) & 0xFF);
          if (!written) return TKvIPlainRow::NotWritten;
          t = written;
        }
        break;
      case kPlainMemo:
        for (const TTPSPlainMemo& m : memos)
          if (m.Field == std::size_t(c)) {
            addText(m.Text.data(), m.Text.size());
            break;
          }
        break;
      default: {
        TKvICellView view;
        if (!DecodeFieldView(*f.Field, data, payloadStart, view, invalid)) break;
        if (view.Kind == VarKind::String) {
          addText(view.Text.data(), view.Text.size());
          break;
        }
        char* const written = WritePlainCellText(t, view, decimalSeparator, dates);
        if (!written) return TKvIPlainRow::NotWritten;
        t = written;
        break;
      }
    }
  }
  addText(text.RecordSeparator.data(), text.RecordSeparator.size());
  flush();
  return out.size() > limit ? TKvIPlainRow::PastLimit : TKvIPlainRow::Written;
}

bool TpsFieldHasValue(const TTPSField& f, std::span<const std::uint8_t> data,
                      std::size_t payloadStart) {
  const std::size_t p = payloadStart + f.Offset;
  const std::size_t avail = p < data.size() ? data.size() - p : 0;
  switch (f.Type) {
    case tpsByte:
      return avail >= 1;
    case tpsShort:
    case tpsUShort:
      return avail >= 2;
    case tpsLong:
    case tpsULong:
    case tpsDate:
    case tpsTime:
      return avail >= 4;
    case tpsFloat:
      return avail >= (f.Length == 4 ? 4u : 6u);
    case tpsDouble:
      return avail >= 8;
    case tpsDecimal: {
      if (f.Length >= 30 || f.Length == 0) return true;
      return avail >= f.Length && PackedDigits(data.data() + p, f.Length);
    }
    case tpsChar:
      return f.Length > 0 && avail > 0;
    case tpsVarChar:
      return true;
    case tpsMaskString:
      return avail >= 1;
    default:
      return false;
  }
}

void TpsDecodeField(const TTPSField& f, std::span<const std::uint8_t> data,
                    std::size_t payloadStart, Variant& value, TKvICellType& cellType,
                    std::int64_t& invalid) {
  TKvICellView v;
  if (TpsDecodeFieldView(f, data, payloadStart, v, invalid))
    value = v.ToVariant();
  else
    value = Variant::Null();
  cellType = v.CellType;
}

// Appends unit to out times times, doubling the copied block each step.
static void AppendRepeated(std::string& out, std::string_view unit, std::size_t times) {
  if (times == 0 || unit.empty()) return;
  const std::size_t start = out.size();
  out.reserve(start + unit.size() * times);
  out.append(unit);
  std::size_t done = 1;
  while (done < times) {
    const std::size_t take = std::min(done, times - done);
    out.append(out, start, take * unit.size());
    done += take;
  }
}

void TpsDecodeArray(const TTPSField& f, std::span<const std::uint8_t> data,
                    std::size_t payloadStart, std::string_view separator, Variant& value,
                    TKvICellType& cellType, std::int64_t& invalid) {
  const std::uint16_t n = f.Elements;
  const std::uint16_t w = n ? std::uint16_t(f.Length / n) : 0;
  // One element: the field's type and decimals over its share of the bytes.
  TTPSField e;
  e.Type = f.Type;
  e.Decimals = f.Decimals;
  e.SecondDecimal = f.SecondDecimal;
  e.Length = w;
  e.Elements = 1;
  const FormatSettings& settings = CurrentSettings();
  std::string text = "(";
  TKvICellView v;
  cellType = ictEmpty;
  for (std::uint32_t k = 0; k < n; ++k) {
    const std::size_t offset = f.Offset + std::size_t(k) * w;
    if (k > 0 && offset > 0xFFFF) {
      // This element and the ones after it lie beyond any payload.
      AppendRepeated(text, separator, n - k);
      cellType = ictEmpty;
      break;
    }
    if (k > 0 && (w == 0 || payloadStart + offset >= data.size())) {
      // From here on every element reads the same bytes (a width of 0, a damaged
      // count) or none (past the record's end) and gives the same text: it is decoded
      // once and repeated, so a damaged count costs no decoding per element.
      std::uint32_t same = n - k;
      if (w > 0) same = std::min<std::uint32_t>(same, (0xFFFFu - f.Offset) / w - k + 1);
      e.Offset = std::uint16_t(offset);
      std::string one(separator);
      const std::int64_t before = invalid;
      if (TpsDecodeFieldView(e, data, payloadStart, v, invalid)) AppendTextOf(one, v, settings);
      invalid += (invalid - before) * std::int64_t(same - 1);
      cellType = v.CellType;
      AppendRepeated(text, one, same);
      if (k + same < n) {
        AppendRepeated(text, separator, n - k - same);
        cellType = ictEmpty;
      }
      break;
    }
    e.Offset = std::uint16_t(offset);
    if (k > 0) text.append(separator);
    if (TpsDecodeFieldView(e, data, payloadStart, v, invalid)) AppendTextOf(text, v, settings);
    cellType = v.CellType;
  }
  text += ")";
  value = Variant::String(std::move(text));
}

// ---- Memo texts ----

void TTPSMemoIndex::Sort(TTPSRecords& memos, TTPSByteStore* store, TTPSDamage* damage) {
  damage_ = damage;
  auto& items = memos.Items();
  struct Entry {
    std::int32_t table, record;
    std::uint8_t memo;
    std::uint16_t seq;
    std::int32_t insertion;
    std::size_t index;
  };
  std::vector<Entry> e;
  e.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    auto& b = static_cast<const TTPSRecordMemoBody&>(*items[i].Body);
    e.push_back({items[i].TableNumber, b.RecordNumber, b.MemoNumber, b.SequenceNumber,
                 b.InsertionNumber, i});
  }
  std::sort(e.begin(), e.end(), [](const Entry& a, const Entry& b) {
    return std::tie(a.table, a.record, a.memo, a.seq, a.insertion) <
           std::tie(b.table, b.record, b.memo, b.seq, b.insertion);
  });
  std::deque<TTPSRecord> sorted;
  keys_.clear();
  keys_.reserve(items.size());
  for (const Entry& x : e) {
    TTPSRecord& r = items[x.index];
    if (store && !keys_.empty()) {
      const Key& k = keys_.back();
      if (std::tie(k.Table, k.Record, k.Memo, k.Sequence) ==
          std::tie(x.table, x.record, x.memo, x.seq)) {
        // The same piece again: the first one stays. Other bytes are a conflict.
        const auto first = sorted.back().Bytes(), again = r.Bytes();
        if (damage && !std::equal(first.begin(), first.end(), again.begin(), again.end()))
          damage->PieceConflict(x.table);
        store->Release(r.Data);
        continue;
      }
    }
    sorted.push_back(std::move(r));
    keys_.push_back({x.table, x.record, x.memo, x.seq});
  }
  items = std::move(sorted);
}

std::string TTPSMemoIndex::Assemble(TTPSRecords& memos, TTPSByteStore& store, std::int32_t table,
                                    std::uint8_t memo, std::int32_t row, bool blob) {
  std::size_t cursor = 0;
  return Assemble(memos, store, table, memo, row, blob, cursor);
}

std::string TTPSMemoIndex::Assemble(TTPSRecords& memos, TTPSByteStore& store, std::int32_t table,
                                    std::uint8_t memo, std::int32_t row, bool blob,
                                    std::size_t& cursor) {
  std::string text;
  auto& items = memos.Items();
  if (keys_.size() != items.size() || row == INT32_MAX) return text;
  const Key want{table, row + 1, memo, 0};
  auto less = [](const Key& a, const Key& b) {
    return std::tie(a.Table, a.Record, a.Memo) < std::tie(b.Table, b.Record, b.Memo);
  };
  // The first key not below the wanted one: a few steps from the cursor when the keys
  // asked for rise, otherwise by bisection.
  std::size_t first = std::min(cursor, keys_.size());
  if (first > 0 && !less(keys_[first - 1], want)) {
    first = std::size_t(std::lower_bound(keys_.begin(), keys_.end(), want, less) - keys_.begin());
  } else {
    std::size_t steps = 0;
    while (first < keys_.size() && less(keys_[first], want) && ++steps < 8) ++first;
    if (first < keys_.size() && less(keys_[first], want))
      first = std::size_t(
          std::lower_bound(keys_.begin() + std::ptrdiff_t(first), keys_.end(), want, less) -
          keys_.begin());
  }
  std::size_t i = first;
  bool found = false, gap = false;  // pieces not used before; a sequence number missing
  for (; i < keys_.size() && !less(want, keys_[i]); ++i) {
    TTPSRecord& r = items[i];
    auto bytes = r.Bytes();
    found = found || r.Data.Ptr != nullptr;
    gap = gap || keys_[i].Sequence != i - first;
    if (r.HeaderLength < bytes.size())
      text.append(reinterpret_cast<const char*>(bytes.data()) + r.HeaderLength,
                  bytes.size() - r.HeaderLength);
    store.Release(r.Data);  // used once
  }
  cursor = i;
  bool incomplete = gap;
  if (blob) {
    // A BLOB starts with the length of the data that follows.
    if (text.size() < 4) {
      if (found && damage_) damage_->MemoIncomplete(table, row + 1, true);
      return std::string();
    }
    std::uint32_t len = TpsLe32(reinterpret_cast<const std::uint8_t*>(text.data()));
    incomplete = incomplete || len != text.size() - 4;
    std::size_t keep = std::min<std::size_t>(len, text.size() - 4);
    text = text.substr(4, keep);
  }
  if (found && incomplete && damage_) damage_->MemoIncomplete(table, row + 1, blob);
  return text;
}
