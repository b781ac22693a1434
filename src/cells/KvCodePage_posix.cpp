// Code page tables through iconv of the C library: each byte converted alone.
#include <iconv.h>

#include <string>

#include "cells/KvCodePage.h"

namespace {

std::string IconvName(std::uint32_t number) {
  if (number >= 1250 && number <= 1258) return "WINDOWS-" + std::to_string(number);
  if (number == 874) return "WINDOWS-874";
  if (number == 28605) return "ISO-8859-15";
  if (number >= 28591 && number <= 28599) return "ISO-8859-" + std::to_string(number - 28590);
  return "IBM" + std::to_string(number);
}

}  // namespace

void PlatformCodePageTable(std::uint32_t number, std::array<char32_t, 256>& unicode) {
  iconv_t cd = iconv_open("UTF-32LE", IconvName(number).c_str());
  if (cd == iconv_t(-1)) return;
  for (std::size_t b = 0x80; b < 0x100; ++b) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // initial state
    char in = char(b);
    unsigned char out[16];
    char* ip = &in;
    char* op = reinterpret_cast<char*>(out);
    std::size_t inLeft = 1, outLeft = sizeof out;
    if (iconv(cd, &ip, &inLeft, &op, &outLeft) == std::size_t(-1) || inLeft != 0) continue;
    // A converter that combines characters (1255, 1258) may hold the byte back until
    // it is told the text ends.
    iconv(cd, nullptr, nullptr, &op, &outLeft);
    // Exactly one code point: anything else leaves the byte as its own number.
    if (sizeof out - outLeft != 4) continue;
    unicode[b] =
        char32_t(out[0]) | char32_t(out[1]) << 8 | char32_t(out[2]) << 16 | char32_t(out[3]) << 24;
  }
  iconv_close(cd);
}
