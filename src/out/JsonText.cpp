#include "out/JsonText.h"

#include <charconv>
#include <cmath>

namespace {

// Whether a byte must be escaped inside a JSON string.
constexpr bool NeedsEscape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

template <class Number>
void AppendShortest(std::string& out, Number value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  // std::to_chars without a format gives the shortest text that reads back to the same
  // value of the argument's type; its forms ("-2.7", "1e+16") are valid JSON numbers.
  char text[32];
  const auto res = std::to_chars(text, text + sizeof text, value);
  out.append(text, res.ptr);
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view utf8) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out.push_back('"');
  std::size_t from = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (!NeedsEscape(c)) continue;
    out.append(utf8.substr(from, i - from));
    if (c >= 0x20) {
      out.push_back('\\');
      out.push_back(char(c));
    } else {
      const char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0x0F]};
      out.append(escape, sizeof escape);
    }
    from = i + 1;
  }
  out.append(utf8.substr(from));
  out.push_back('"');
}

void AppendJsonNumber(std::string& out, double value) { AppendShortest(out, value); }

void AppendJsonNumber(std::string& out, float value) { AppendShortest(out, value); }

void AppendJsonInteger(std::string& out, std::int64_t value) {
  char text[24];
  const auto res = std::to_chars(text, text + sizeof text, value);
  out.append(text, res.ptr);
}
