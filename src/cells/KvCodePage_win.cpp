// Code page tables through the Windows API: each byte converted alone.
#include <windows.h>

#include "cells/KvCodePage.h"

void PlatformCodePageTable(std::uint32_t number, std::array<char32_t, 256>& unicode) {
  for (std::size_t b = 0x80; b < 0x100; ++b) {
    const char in = char(b);
    wchar_t out[4];
    // Undefined bytes fail instead of becoming a default character.
    const int n = MultiByteToWideChar(UINT(number), MB_ERR_INVALID_CHARS, &in, 1, out, 4);
    if (n == 1) unicode[b] = char32_t(out[0]);
  }
}
