#include <gtest/gtest.h>

#include <set>
#include <string>

#include "cells/KvCodePage.h"

namespace {

TEST(CodePage, NumbersAndNamesInAnyCase) {
  const struct {
    const char* text;
    std::uint32_t number;
  } accepted[] = {
      {"1252", 1252},         {"437", 437},          {"28605", 28605},     {"65001", 65001},
      {"WINDOWS-1250", 1250}, {"windows-874", 874},  {"cp850", 850},       {"CP1251", 1251},
      {"ibm866", 866},        {"iso-8859-1", 28591}, {"ISO8859-9", 28599}, {"iso_8859-15", 28605},
      {"Latin1", 28591},      {"utf-8", 65001},      {"UTF8", 65001},
  };
  for (const auto& c : accepted) {
    std::uint32_t n = 0;
    EXPECT_TRUE(TryParseCodePage(c.text, n)) << c.text;
    EXPECT_EQ(n, c.number) << c.text;
  }
  for (const char* text :
       {"", "1259", "1249", "28600", "28604", "936", "iso-8859-10", "iso-8859-", "cp65001",
        "windows-28591", "utf-16", "-1252", "1252 ", "abc", "0x4E4"}) {
    std::uint32_t n = 7;
    EXPECT_FALSE(TryParseCodePage(text, n)) << text;
    EXPECT_EQ(n, 7u) << text;
  }
  const std::string m = CodePageErrorMessage("cp999");
  EXPECT_NE(m.find("cp999"), std::string::npos) << m;
  EXPECT_NE(m.find("1250-1258"), std::string::npos) << m;
  EXPECT_NE(m.find("utf-8"), std::string::npos) << m;
}

// Characters whose place in each code page is known, and the undefined bytes that keep
// their own number.
TEST(CodePage, KnownCharacters) {
  const struct {
    std::uint32_t cp;
    unsigned char byte;
    char32_t unicode;
  } cases[] = {
      {1252, 0x80, 0x20AC},  {1252, 0xE9, 0x00E9},  {1252, 0x81, 0x0081},  {1252, 0x9D, 0x009D},
      {850, 0x82, 0x00E9},   {850, 0x9B, 0x00F8},   {850, 0xD5, 0x0131},   {437, 0xE1, 0x00DF},
      {858, 0xD5, 0x20AC},   {866, 0x80, 0x0410},   {866, 0xEF, 0x044F},   {852, 0xA5, 0x0105},
      {1250, 0x8A, 0x0160},  {1250, 0xF8, 0x0159},  {1251, 0xC0, 0x0410},  {1253, 0xC1, 0x0391},
      {1255, 0xE0, 0x05D0},  {1258, 0xC3, 0x0102},  {874, 0xA1, 0x0E01},   {28591, 0xE9, 0x00E9},
      {28605, 0xA4, 0x20AC}, {28599, 0xD0, 0x011E}, {28595, 0xB0, 0x0410}, {862, 0x80, 0x05D0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TKvCodePage::Get(c.cp).ToUnicode(c.byte), c.unicode)
        << c.cp << " byte " << int(c.byte);
}

// No two bytes of a code page give the same character, so every byte can be recovered.
// (857 and 28598 leave bytes undefined whose own numbers are characters they define
// elsewhere: those bytes cannot be told apart.)
TEST(CodePage, EveryByteRecoverable) {
  for (std::uint32_t cp :
       {437u,   850u,   852u,   855u,   858u,   860u,   861u,   862u,   863u,  865u,  866u,
        869u,   874u,   1250u,  1251u,  1252u,  1253u,  1254u,  1255u,  1256u, 1257u, 1258u,
        28591u, 28592u, 28593u, 28594u, 28595u, 28596u, 28597u, 28599u, 28605u}) {
    const TKvCodePage& page = TKvCodePage::Get(cp);
    std::set<char32_t> seen;
    for (int b = 0; b < 256; ++b) seen.insert(page.ToUnicode(std::uint8_t(b)));
    EXPECT_EQ(seen.size(), 256u) << cp;
    EXPECT_EQ(page.ToUnicode('A'), U'A') << cp;
  }
}

TEST(CodePage, TextsToUtf8) {
  const struct {
    std::uint32_t cp;
    std::string in;
    std::string out;
  } cases[] = {
      {1252, "Cr\xE8me br\xFBl\xE9\x65 \x80 5", "Crème brûlée € 5"},
      {1252, "\x81\x8D", "\xC2\x81\xC2\x8D"},
      {850, "Caf\x82 \x9B", "Café ø"},
      {866, "\x8F\xE0\xA8\xA2\xA5\xE2", "Привет"},
      {1250, "\x8A\xE8\x65\x9Aky", "Ščešky"},
      {1252, "", ""},
  };
  for (const auto& c : cases) {
    std::string out = "<";
    std::int64_t invalid = 0;
    TKvCodePage::Get(c.cp).AppendUtf8(out, c.in, invalid);
    EXPECT_EQ(out, "<" + c.out) << c.cp;
    EXPECT_EQ(invalid, 0);
  }
  // Long runs of ASCII and of high bytes alike.
  std::string in, expected;
  for (int i = 0; i < 300; ++i) in += "abcdefghij\xE9\xE8\xE0", expected += "abcdefghijéèà";
  in += std::string(500, '\xE9'), expected += [] {
    std::string s;
    for (int i = 0; i < 500; ++i) s += "é";
    return s;
  }();
  std::string out;
  std::int64_t invalid = 0;
  TKvCodePage::Get(1252).AppendUtf8(out, in, invalid);
  EXPECT_EQ(out, expected);
}

TEST(CodePage, Utf8CheckedAndReplaced) {
  const std::string R = "\xEF\xBF\xBD";
  const struct {
    std::string in;
    std::string out;
    std::int64_t replaced;
  } cases[] = {
      {"plain ascii", "plain ascii", 0},
      {"é€😀", "é€😀", 0},
      {"a\x80z", "a" + R + "z", 1},
      {"a\xC3", "a" + R, 1},
      {"\xE2\x82z", R + "z", 1},
      {"\xC0\xAF", R + R, 2},                  // overlong
      {"\xE0\x80\x80", R + R + R, 3},          // overlong three-byte form
      {"\xED\xA0\x80", R + R + R, 3},          // surrogate
      {"\xF4\x90\x80\x80", R + R + R + R, 4},  // beyond U+10FFFF
      {"\xF0\x9F\x98", R, 1},                  // cut short
      {"\xFF\xFE", R + R, 2},
  };
  for (const auto& c : cases) {
    std::string out;
    std::int64_t invalid = 0;
    TKvCodePage::Get(65001).AppendUtf8(out, c.in, invalid);
    EXPECT_EQ(out, c.out) << c.in;
    EXPECT_EQ(invalid, c.replaced) << c.in;
  }
}

}  // namespace
