#include "expr/KvIParsTokens.h"

#include <charconv>
#include <cstdlib>
#include <string>

#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "cells/KvText.h"

const std::array<TOperatorEntry, 16> OperatorTable = {{
    {"+", 2},
    {"-", 2},
    {"*", 2},
    {"/", 2},
    {"^", 2},
    {"!", 1},
    {"=", 2},
    {"<", 2},
    {">", 2},
    {"<=", 2},
    {">=", 2},
    {"<>", 2},
    {"!=", 2},
    {"AND", 2},
    {"OR", 2},
    {"NOT", 1},
}};

int OperatorIndex(std::string_view s) {
  switch (s.size()) {
    case 1:
      switch (s[0]) {
        case '+':
          return 1;
        case '-':
          return 2;
        case '*':
          return 3;
        case '/':
          return 4;
        case '^':
          return 5;
        case '!':
          return 6;
        case '=':
          return 7;
        case '<':
          return 8;
        case '>':
          return 9;
      }
      return 0;
    case 2:
      if (s == "<=") return 10;
      if (s == ">=") return 11;
      if (s == "<>") return 12;
      if (s == "!=") return 13;
      if (UpperAscii(s[0]) == 'O' && UpperAscii(s[1]) == 'R') return 15;
      return 0;
    case 3:
      if (UpperAscii(s[0]) == 'A' && UpperAscii(s[1]) == 'N' && UpperAscii(s[2]) == 'D') return 14;
      if (UpperAscii(s[0]) == 'N' && UpperAscii(s[1]) == 'O' && UpperAscii(s[2]) == 'T') return 16;
      return 0;
  }
  return 0;
}

int OperatorArity(std::string_view s) {
  const int i = OperatorIndex(s);
  return i > 0 ? OperatorTable[i - 1].Arity : 0;
}

TExpTokenKind ClassifyChar(char c, char decimalSeparator) {
  switch (c) {
    case '(':
    case ')':
      return tkParen;
    case ',':
      return tkComma;
    case '+':
    case '-':
    case '*':
    case '/':
    case '^':
    case '!':
    case '=':
    case '<':
    case '>':
      return tkOperator;
    default:
      break;
  }
  // A character that reads as a number on its own: a digit, "." or the locale's
  // decimal separator (unless an earlier class took it, as "," above).
  if ((c >= '0' && c <= '9') || c == '.' || c == decimalSeparator) return tkNumber;
  if (c == '\0') return tkNone;
  return tkName;
}

double NumberLiteralValue(std::string_view text) {
  const std::size_t first = text.find('.');
  const std::size_t second =
      first == std::string_view::npos ? std::string_view::npos : text.find('.', first + 1);
  std::string digits;
  std::string_view number = text;
  if (second != std::string_view::npos) {
    for (std::size_t i = 0; i < second; ++i) {
      if (text[i] != '.') digits += text[i];
    }
    number = digits;
  }
  if (number.empty() || number == ".") return 0.0;
  double value = 0;
  const auto r = std::from_chars(number.data(), number.data() + number.size(), value);
  if (r.ec == std::errc::result_out_of_range) {
    // Hundreds of digits: beyond the double range (infinity), or too small to show.
    value = std::strtod(std::string(number).c_str(), nullptr);
  }
  return value;
}

void TExpParser::SetText(std::string_view s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  text_.assign(s.substr(b, e - b));
}

const TExpToken* TExpParser::FirstToken() {
  tokens_.clear();
  position_ = 1;
  decimalSeparator_ = CurrentSettings().DecimalSeparator;
  return NextToken();
}

void TExpParser::TokenizeAll(std::string_view s) {
  SetText(s);
  for (const TExpToken* t = FirstToken(); t != nullptr; t = NextToken()) {
  }
}

namespace {

bool IsClosing(char c) { return c == '\'' || c == '"' || c == ']'; }

}  // namespace

const TExpToken* TExpParser::NextToken() {
  const int len = int(text_.size());
  if (position_ > len) return nullptr;
  // Skip spaces (code 32 only).
  char c;
  do {
    c = text_[position_ - 1];
    ++position_;
  } while (c == ' ' && position_ <= len);

  const TExpTokenKind k0 = ClassifyChar(c, decimalSeparator_);
  if (k0 == tkNone) {
    throw EKvIParseException("Parse error: illegal character \"" + std::string(1, c) +
                             "\" at position " + std::to_string(position_ - 1) + ".");
  }
  if (k0 == tkParen) {
    tokens_.push_back(TExpToken{std::string(1, c), tkParen});
    return &tokens_.back();
  }

  std::string buf(1, c);
  const bool startedQuoted = c == '\'' || c == '"' || c == '[';
  bool inQuote = startedQuoted;
  bool reachedEnd = false;

  // A token whose first character was the last of the text ends at the end mark,
  // also when it opened a quote.
  if (position_ <= len) {
    for (;;) {
      c = text_[position_ - 1];
      const TExpTokenKind kCur = inQuote ? tkName : ClassifyChar(c, decimalSeparator_);
      if (!(kCur == k0 || (k0 == tkName && kCur == tkNumber))) break;
      bool appended = false;
      if (inQuote && IsClosing(c)) {
        // A closing character closes unless the next one is a closing character too.
        if (position_ == len || !IsClosing(text_[position_])) {
          inQuote = false;
          buf += c;
          appended = true;
        }
      }
      if (!appended && (inQuote || c != ' ')) buf += c;
      ++position_;
      if (position_ > len) {
        reachedEnd = true;
        break;
      }
    }
  }

  TExpTokenKind kind = k0;
  // A keyword becomes an operator only when something follows it; at the very end of
  // the text the token keeps its kind.
  if (!reachedEnd && !startedQuoted && OperatorIndex(buf) > 0) kind = tkOperator;
  tokens_.push_back(TExpToken{std::move(buf), kind});
  return &tokens_.back();
}
