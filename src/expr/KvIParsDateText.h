// Text routines of the expression engine: dates and times read from a text under a
// pattern of letters, and the first item cut off a separated list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cells/KvVariant.h"

// Reads a date and/or time out of Text under Pattern (letters D M Y H N S Z);
// 0 when nothing is recognised.
TDateTime DateTimeFromText(std::string_view text, std::string_view pattern, char dateSep,
                           char timeSep);
// Removes the first item (and its separator) from s and returns it without trailing
// characters of code 0 to 32.
std::string ExtractToken(char sep, std::string& s, bool stopAtSemicolon);
// The year of the local date.
std::uint16_t CurrentYear();
