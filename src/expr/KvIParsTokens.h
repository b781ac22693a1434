// Tokenizer of the expression language: the operator table, the character classes and
// TExpParser, which cuts an expression text into TExpToken objects.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

enum TExpTokenKind : std::uint8_t {
  tkNone = 0,  // a character that starts no token (NUL); never stored
  tkName = 1,  // identifier, [bracketed name], 'quoted' or "quoted" text, function name
  tkNumber = 2,
  tkParen = 4,
  tkOperator = 5,
  tkComma = 6,
};

struct TExpToken {
  std::string Text;
  TExpTokenKind Kind = tkNone;
};

// Tokens of one text. A deque keeps every token at its place while more are appended,
// so references handed out by NextToken stay valid, and indexes are constant-time.
using TExpTokens = std::deque<TExpToken>;

struct TOperatorEntry {
  const char* Text;
  int Arity;
};

// Position 1..16 is the priority index: a lower index splits first (binds more loosely).
extern const std::array<TOperatorEntry, 16> OperatorTable;

// 1-based index of s (ASCII letters upper-cased first) in OperatorTable, or 0.
int OperatorIndex(std::string_view s);
// Arity of the entry OperatorIndex finds, or 0.
int OperatorArity(std::string_view s);
// The value of a tkNumber token: digits with "." as the decimal point, infinity when
// it lies beyond the double range. A second "." ends the reading and the digits read
// up to there count as a whole number with the first "." ignored: 1.2.3 is 12,
// 3.14.15 is 314. A lone "." is 0.
double NumberLiteralValue(std::string_view text);
// The kind of the one character c under the given decimal separator.
TExpTokenKind ClassifyChar(char c, char decimalSeparator);

class TExpParser {
 public:
  TExpParser() = default;
  TExpParser(const TExpParser&) = delete;
  TExpParser& operator=(const TExpParser&) = delete;

  // Text := s without leading and trailing characters of code 0 to 32.
  void SetText(std::string_view s);
  const std::string& Text() const { return text_; }
  // Drops all tokens, restarts at position 1 and returns the first token (or nullptr).
  const TExpToken* FirstToken();
  // Scans, appends and returns the next token; nullptr at the end of the text.
  // Raises EKvIParseException for a NUL character outside quotes.
  const TExpToken* NextToken();
  // SetText, FirstToken and NextToken until the end.
  void TokenizeAll(std::string_view s);

  const TExpTokens& Tokens() const { return tokens_; }
  // 1-based index of the next character to read.
  int Position() const { return position_; }

 private:
  std::string text_;
  TExpTokens tokens_;
  int position_ = 1;
  char decimalSeparator_ = '.';  // taken from the current settings at FirstToken
};
