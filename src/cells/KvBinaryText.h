// Bytes as text, for writers that must put binary content (BLOBs) into a text file:
// base64 (RFC 4648, no line breaks), upper-case hex, and the file-name extension that
// the content's signature suggests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

void AppendBase64(std::string& out, std::string_view bytes);
// Two upper-case hex digits a byte.
void AppendHex(std::string& out, std::string_view bytes);
// "bmp", "jpg", "png", "gif", "tif", "pdf", "zip", "ico" or "wmf" by the content's first
// bytes; "bin" for anything else.
std::string_view ExtensionForContent(std::string_view bytes);

// The text forms of dates and times that do not depend on regional settings:
// yyyy-mm-dd, hh:nn:ss with ".cc" hundredths when they are not zero, and the two
// joined by a space. A value on day 0 is a time alone, one without a time of day a
// date alone, as in the default text.
void AppendIsoDateTime(std::string& out, double dateTime);
// AppendIsoDateTime's text of a decoded DATE or TIME cell, Value, written from the
// calendar parts the cell carries in Parts (its Int: TKvICellView::kCellDateParts or
// kCellTimeParts) without decoding the value; false, with nothing appended, when Parts
// holds none, and for day 0, which AppendIsoDateTime writes as a time of day.
bool AppendIsoDateTimeParts(std::string& out, std::int64_t parts, double value);
// The same text written at At (room for kIsoPartsTextMax characters); returns its end,
// or null when AppendIsoDateTimeParts would append nothing.
inline constexpr std::size_t kIsoPartsTextMax = 16;
char* WriteIsoDateTimeParts(char* at, std::int64_t parts, double value);
