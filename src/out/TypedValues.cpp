#include "out/TypedValues.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "cells/KvBinaryText.h"
#include "cells/KvCodePage.h"
#include "cells/KvDecimal.h"
#include "cells/KvText.h"
#include "out/JsonText.h"

namespace {

// Text without its trailing NUL bytes (terminators, padding), and without trailing
// blanks too when Blanks is set; the two may be mixed. Padding runs long in fixed-size
// fields: it is passed eight bytes at a time while they are all padding.
std::string_view WithoutPadding(std::string_view text, bool blanks) {
  // A byte is NUL or blank when its bits other than 0x20 are clear.
  const std::uint64_t keep = blanks ? 0xDFDFDFDFDFDFDFDFull : ~0ull;
  std::size_t n = text.size();
  while (n > 0) {
    // The last eight bytes (fewer at the start: the missing ones count as NUL), the
    // first of them the lowest byte of W.
    const std::size_t take = std::min<std::size_t>(n, 8);
    std::uint64_t w = 0;
    if (take == 8) {
      std::memcpy(&w, text.data() + n - 8, 8);
      if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
    } else {
      for (std::size_t i = 0; i < take; ++i)
        w |= std::uint64_t(std::uint8_t(text[n - 1 - i])) << (56 - 8 * i);
    }
    const std::uint64_t kept = w & keep;
    if (kept != 0) return text.substr(0, n - std::size_t(std::countl_zero(kept)) / 8);
    n -= take;
  }
  return text.substr(0, 0);
}

bool IntegerOf(const TKvICellView& v, std::int64_t& out) {
  switch (v.Kind) {
    case VarKind::SmallInt:
    case VarKind::Integer:
    case VarKind::Byte:
    case VarKind::Boolean:
      out = v.Int;
      return true;
    case VarKind::Single:
    case VarKind::Double:
      if (!(std::fabs(v.Real) < 9.2e18) || std::trunc(v.Real) != v.Real) return false;
      out = std::int64_t(v.Real);
      return true;
    default:
      return false;
  }
}

bool RealOf(const TKvICellView& v, double& out) {
  std::int64_t i;
  if (v.Kind == VarKind::Single || v.Kind == VarKind::Double) {
    out = v.Real;
    return true;
  }
  if (IntegerOf(v, i)) {
    out = double(i);
    return true;
  }
  return false;
}

}  // namespace

void AppendDecimalText(std::string& out, double value, int decimals) {
  if (value == 0) value = 0;  // no "-0.00"
  char text[360];
  const auto res =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  out.append(text, res.ptr);
}

TTypedValue TTypedReader::Read(const TTypedColumn& c, const TKvICellView* v, std::string& scratch) {
  TTypedValue r;
  if (!v || v->Kind == VarKind::Null || v->Kind == VarKind::Empty) return r;
  switch (c.Kind) {
    case TTypedKind::Integer:
      if (IntegerOf(*v, r.Int)) r.Kind = TTypedValue::kInteger;
      break;
    case TTypedKind::Single:
    case TTypedKind::Double:
      if (RealOf(*v, r.Real))
        r.Kind = c.Kind == TTypedKind::Single ? TTypedValue::kSingle : TTypedValue::kReal;
      break;
    case TTypedKind::Decimal:
      if (RealOf(*v, r.Real)) {
        scratch.clear();
        // The stored digits when the cell carries them, exact however many there are.
        if (v->IsPackedDecimal())
          AppendPackedDecimal(scratch, v->Text, v->PackedDecimals, '.', true);
        else
          AppendDecimalText(scratch, r.Real, c.Decimals);
        r.Kind = TTypedValue::kDecimal;
        r.Text = scratch;
      }
      break;
    case TTypedKind::Blob:
      if (v->Kind != VarKind::String) break;
      r.Kind = TTypedValue::kBytes;
      r.Text = v->Text;
      break;
    case TTypedKind::Date:
    case TTypedKind::Time:
    case TTypedKind::String:
    case TTypedKind::Text:
    case TTypedKind::Memo:
      scratch.clear();
      if (!AppendText(scratch, c, v)) break;
      r.Kind = TTypedValue::kText;
      r.Text = scratch;
      break;
  }
  return r;
}

bool TTypedReader::AppendText(std::string& out, const TTypedColumn& c, const TKvICellView* v) {
  if (!v) return false;
  if (c.Kind == TTypedKind::Date || c.Kind == TTypedKind::Time) {
    // An empty or impossible date or time is no date value. A date is a whole day, a
    // time a fraction of day 0: yyyy-mm-dd or hh:nn:ss[.cc].
    if (v->Kind != VarKind::Date) return false;
    if (!AppendIsoDateTimeParts(out, v->Int, v->Real)) AppendIsoDateTime(out, v->Real);
    return true;
  }
  if (v->Kind != VarKind::String) return false;
  codePage_.AppendUtf8(out, WithoutPadding(v->Text, trim_ && c.Kind == TTypedKind::String),
                       invalidUtf8_);
  return true;
}

char* TTypedReader::WriteJsonDirect(char* at, char* end, const TTypedColumn& c,
                                    const TKvICellView* v) {
  if (!v || v->Kind == VarKind::Null || v->Kind == VarKind::Empty) {
    std::memcpy(at, "null", 4);
    return at + 4;
  }
  switch (c.Kind) {
    case TTypedKind::Integer: {
      // As Read: a ULONG from 2^31 up comes as a whole Double.
      std::int64_t i;
      return IntegerOf(*v, i) ? WriteJsonInteger(at, i) : nullptr;
    }
    case TTypedKind::Double:
      // As Read and AppendJson: a stored double's shortest text.
      if (v->Kind != VarKind::Double) return nullptr;
      return WriteJsonNumber(at, v->Real);
    case TTypedKind::Decimal:
      if (!v->IsPackedDecimal() || v->Text.size() > kPackedDecimalWriteBytes) return nullptr;
      return WritePackedDecimal(at, v->Text, v->PackedDecimals, '.', true);
    case TTypedKind::Date:
    case TTypedKind::Time: {
      if (v->Kind != VarKind::Date) {
        std::memcpy(at, "null", 4);
        return at + 4;
      }
      *at = '"';
      char* t = WriteIsoDateTimeParts(at + 1, v->Int, v->Real);
      if (!t) return nullptr;
      *t++ = '"';
      return t;
    }
    case TTypedKind::String:
    case TTypedKind::Text:
    case TTypedKind::Memo:
      if (v->Kind != VarKind::String || codePage_.IsUtf8()) return nullptr;
      return WriteJsonPlainString(at, end,
                                  WithoutPadding(v->Text, trim_ && c.Kind == TTypedKind::String));
    default:
      return nullptr;
  }
}

bool TTypedReader::AppendJsonDirect(std::string& out, const TTypedColumn& c,
                                    const TKvICellView* v) {
  char text[kJsonDirectRoom];
  if (const char* end = WriteJsonDirect(text, text + sizeof text, c, v)) {
    out.append(text, std::size_t(end - text));
    return true;
  }
  // What WriteJsonDirect leaves: longer decimals, dates and times without their parts,
  // texts to escape or decode and longer ones. (V is a value: null was written.)
  switch (c.Kind) {
    case TTypedKind::Decimal:
      if (!v->IsPackedDecimal()) return false;
      AppendPackedDecimal(out, v->Text, v->PackedDecimals, '.', true);
      return true;
    case TTypedKind::Date:
    case TTypedKind::Time:
      // A DATE cell: the ISO forms hold nothing a JSON string escapes.
      out.push_back('"');
      AppendIsoDateTime(out, v->Real);
      out.push_back('"');
      return true;
    case TTypedKind::String:
    case TTypedKind::Text:
    case TTypedKind::Memo:
      if (v->Kind != VarKind::String || codePage_.IsUtf8()) return false;
      AppendJsonString(out, codePage_,
                       WithoutPadding(v->Text, trim_ && c.Kind == TTypedKind::String));
      return true;
    default:
      return false;
  }
}
