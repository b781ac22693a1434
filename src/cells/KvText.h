// Letter case with ASCII rules: the system folds case this way wherever it compares
// names (switches, field names, function names, keywords); bytes above 127 are left
// as they are.
#pragma once

#include <string>
#include <string_view>

[[nodiscard]] constexpr char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}
[[nodiscard]] constexpr char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

inline void UpperAsciiInPlace(std::string& s) {
  for (char& c : s) c = UpperAscii(c);
}

[[nodiscard]] inline std::string UpperAscii(std::string_view s) {
  std::string out(s);
  UpperAsciiInPlace(out);
  return out;
}

[[nodiscard]] inline std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

// S without its first (TrimStart) or last (TrimEnd) characters for which Drop holds:
// the one trimming loop of the program.
template <class Drop>
[[nodiscard]] constexpr std::string_view TrimStart(std::string_view s, Drop drop) {
  while (!s.empty() && drop(s.front())) s.remove_prefix(1);
  return s;
}
template <class Drop>
[[nodiscard]] constexpr std::string_view TrimEnd(std::string_view s, Drop drop) {
  while (!s.empty() && drop(s.back())) s.remove_suffix(1);
  return s;
}

// Equal texts when ASCII letters are compared without regard to case.
constexpr bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  return true;
}

// Whether S begins with Prefix, ASCII letters compared without regard to case.
constexpr bool StartsWithTextAscii(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && SameTextAscii(s.substr(0, prefix.size()), prefix);
}
