// Code page tables through the Windows API: each byte converted alone.
#include <windows.h>

#include "cells/KvCodePage.h"

namespace {

// False when Windows has no table for the code page.
bool Convert(std::uint32_t number, std::array<char32_t, 256>& unicode) {
  if (!IsValidCodePage(UINT(number))) return false;
  for (std::size_t b = 0x80; b < 0x100; ++b) {
    const char in = char(b);
    wchar_t out[4];
    // Undefined bytes fail instead of becoming a default character.
    const int n = MultiByteToWideChar(UINT(number), MB_ERR_INVALID_CHARS, &in, 1, out, 4);
    if (n == 1) unicode[b] = char32_t(out[0]);
  }
  return true;
}

}  // namespace

void PlatformCodePageTable(std::uint32_t number, std::array<char32_t, 256>& unicode) {
  if (Convert(number, unicode)) return;
  // 858 is 850 with the euro sign in place of the dotless i (0xD5); some Windows
  // versions and Wine lack its table.
  if (number == 858 && Convert(850, unicode)) unicode[0xD5] = 0x20AC;
}
