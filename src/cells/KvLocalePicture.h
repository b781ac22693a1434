// Conversion of the date and time pictures of Windows regional settings ("M/d/yyyy",
// "dd.MM.yyyy", "h:mm:ss tt", "HH:mm:ss") into this program's pattern letters
// (FormatDateTime in KvConvert.h).
#pragma once

#include <string>
#include <string_view>

// Converts Picture. Placeholder is '/' for a date picture and ':' for a time picture:
// the first of ". - / :" met outside quotes is the picture's separator; it is stored
// in Separator and every occurrence of it becomes Placeholder. Day and month numbers
// and month names keep their forms (d dd M MM MMM MMMM), years always get four digits
// (a two-digit year would lose data in an export), H/h give the hour, m the minute,
// s the second, t and tt the designator ("ampm", TwelveHour set). Day names (ddd,
// dddd) and eras (g, gg) are left out with the punctuation after them; quoted text
// ('...', '' for a quote) and every other character are copied as literal text.
std::string ConvertLocalePicture(std::string_view picture, char placeholder, char& separator,
                                 bool& twelveHour);
