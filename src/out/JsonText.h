// The pieces of JSON text the typed outputs write: strings, numbers and null.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class TKvCodePage;

// Appends Utf8 as a JSON string: in double quotes, '"' and '\' escaped with a
// backslash, every control character (below 0x20) as \u00XX. The text must be valid
// UTF-8; its other bytes are copied as they are.
void AppendJsonString(std::string& out, std::string_view utf8);
// The same for Bytes of a single-byte code page: AppendJsonString of their UTF-8 form,
// made in one pass.
void AppendJsonString(std::string& out, const TKvCodePage& codePage, std::string_view bytes);

// The shortest text that reads back to the same value of the number's own precision
// (a float holding -2.7 gives "-2.7", not the digits of the nearest double); "null"
// for NaN and infinities, which JSON cannot hold.
void AppendJsonNumber(std::string& out, double value);
void AppendJsonNumber(std::string& out, float value);
void AppendJsonInteger(std::string& out, std::int64_t value);
// The texts of AppendJsonNumber (of a double) and AppendJsonInteger written at At (room
// for kJsonNumberTextMax characters); return their end.
inline constexpr std::size_t kJsonNumberTextMax = 32;
char* WriteJsonNumber(char* at, double value);
char* WriteJsonInteger(char* at, std::int64_t value);
// AppendJsonString's text of Bytes written at At when it fits before End and is plain
// ASCII that needs no escape (the text of every single-byte code page); returns its end,
// or null, with nothing written, otherwise.
char* WriteJsonPlainString(char* at, char* end, std::string_view bytes);
