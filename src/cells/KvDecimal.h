// Exact text of a packed decimal (a DECIMAL field as stored): the high nibble of the
// first byte is the sign (non-zero: negative), its low nibble the first digit, then two
// digits a byte. A cell view of such a value carries the stored bytes beside its
// Double (TKvICellView::Text and PackedDecimals), so that writers can give every
// digit without decoding the field again.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Significant digits of the stored value (leading and trailing zeros not counted);
// 0 for zero.
int PackedDecimalSignificantDigits(std::string_view packed);

// Appends the exact value: "-" for a negative non-zero value, the whole digits without
// leading zeros ("0" when there are none), then the decimal separator and the
// fraction. AllDecimals keeps the declared number of decimals ("5.00"); otherwise
// trailing zeros of the fraction are dropped, and the separator with them ("5").
// Decimals of more than the stored digits read as 0 (no point), as the decoding does.
void AppendPackedDecimal(std::string& out, std::string_view packed, int decimals,
                         char decimalSeparator, bool allDecimals);
// The same text written at At (room for kPackedDecimalTextMax characters); returns its
// end.
char* WritePackedDecimal(char* at, std::string_view packed, int decimals, char decimalSeparator,
                         bool allDecimals);

// The text form of a packed decimal beside its Double (the correctly rounded value of
// its digits), without the Double: the exact digits when there are more than 15
// significant ones; with fewer, the Double's %.15G text is the same digits, and they
// are written when that text has no exponent (the first significant digit from the
// fourth place after the point up to the fifteenth before it). False, and nothing
// appended, when the Double's text is needed.
bool AppendPackedDecimalText(std::string& out, std::string_view packed, int decimals,
                             char decimalSeparator);
// The same text written at At, for up to kPackedDecimalWriteBytes stored bytes; returns
// its end, or null when the Double's text is needed or the value has more bytes
// (AppendPackedDecimalText's longer case). The text is at most 34 characters, but At
// needs room for kPackedDecimalTextMax: the digits are copied in blocks of fixed size.
inline constexpr std::size_t kPackedDecimalWriteBytes = 16, kPackedDecimalTextMax = 72;
char* WritePackedDecimalText(char* at, std::string_view packed, int decimals,
                             char decimalSeparator);

// Whether the Double text (15 significant digits) of a packed decimal would not give
// back its exact value: more than 15 significant digits.
inline bool PackedDecimalNeedsDigits(std::string_view packed) {
  return PackedDecimalSignificantDigits(packed) > 15;
}
