#include <gtest/gtest.h>

#include <string>

#include "cells/KvBinaryText.h"
#include "cells/KvConvert.h"

namespace {

using namespace std::literals;

TEST(BinaryText, Base64AndHex) {
  // The test vectors of RFC 4648, and bytes of every kind.
  const struct {
    std::string_view in;
    const char* base64;
    const char* hex;
  } cases[] = {
      {""sv, "", ""},
      {"f"sv, "Zg==", "66"},
      {"fo"sv, "Zm8=", "666F"},
      {"foo"sv, "Zm9v", "666F6F"},
      {"foob"sv, "Zm9vYg==", "666F6F62"},
      {"fooba"sv, "Zm9vYmE=", "666F6F6261"},
      {"foobar"sv, "Zm9vYmFy", "666F6F626172"},
      {"\0\r\n\xFF\xFE"sv, "AA0K//4=", "000D0AFFFE"},
      {"\xFB\xFF"sv, "+/8=", "FBFF"},
  };
  for (const auto& c : cases) {
    std::string b = "x", h = "y";
    AppendBase64(b, c.in);
    AppendHex(h, c.in);
    EXPECT_EQ(b, "x"s + c.base64);
    EXPECT_EQ(h, "y"s + c.hex);
  }
}

TEST(BinaryText, ExtensionFromSignature) {
  const struct {
    std::string_view content;
    const char* extension;
  } cases[] = {
      {"BM\x36\x10\0\0"sv, "bmp"},
      {"\xFF\xD8\xFF\xE0..JFIF"sv, "jpg"},
      {"\x89PNG\r\n\x1A\n...."sv, "png"},
      {"GIF89a.."sv, "gif"},
      {"GIF87a"sv, "gif"},
      {"II*\0...."sv, "tif"},
      {"MM\0*...."sv, "tif"},
      {"%PDF-1.4"sv, "pdf"},
      {"PK\x03\x04..."sv, "zip"},
      {"\0\0\1\0\1\0"sv, "ico"},
      {"\xD7\xCD\xC6\x9A\0\0"sv, "wmf"},
      {"\1\0\x09\0\0\3"sv, "wmf"},
      {"B"sv, "bin"},
      {""sv, "bin"},
      {"\x89PNG\r\n"sv, "bin"},
      {"hello"sv, "bin"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtensionForContent(c.content), c.extension);
}

TEST(BinaryText, IsoDatesAndTimes) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {EncodeDate(2025, 8, 4), "2025-08-04"},
      {EncodeDate(1801, 1, 1), "1801-01-01"},
      {EncodeDate(9999, 12, 31), "9999-12-31"},
      {EncodeTime(7, 5, 9, 0), "07:05:09"},
      {EncodeTime(23, 59, 59, 990), "23:59:59.99"},
      {EncodeTime(0, 0, 0, 10), "00:00:00.01"},
      {EncodeDate(2020, 2, 29) + EncodeTime(13, 30, 0, 0), "2020-02-29 13:30:00"},
  };
  for (const auto& c : cases) {
    std::string out;
    AppendIsoDateTime(out, c.value);
    EXPECT_EQ(out, c.text);
  }
}

// Day numbers kept in LONG fields, written in the ISO forms.
TEST(BinaryText, ClarionDayNumbers) {
  const struct {
    std::int64_t value;
    bool time;
    const char* text;  // null: out of range
  } cases[] = {
      {82034, false, "2025-08-04"},
      {4, false, "1801-01-01"},
      {1, false, "1800-12-29"},
      {2994626, false, "9999-12-31"},
      {2994627, false, nullptr},
      {0, false, nullptr},
      {-5, false, nullptr},
      {1, true, "00:00:00"},
      {8640000, true, "23:59:59.99"},
      {4500001, true, "12:30:00"},
      {4500002, true, "12:30:00.01"},
      {8640001, true, nullptr},
      {0, true, nullptr},
      {-1, true, nullptr},
  };
  for (const auto& c : cases) {
    TDateTime dt = -1;
    const bool ok = c.time ? TryClarionTime(c.value, dt) : TryClarionDate(c.value, dt);
    ASSERT_EQ(ok, c.text != nullptr) << c.value;
    if (!ok) continue;
    std::string out;
    AppendIsoDateTime(out, dt);
    EXPECT_EQ(out, c.text) << c.value;
  }
}

}  // namespace
