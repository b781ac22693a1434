// The sixty built-in functions of the expression language. Each function reads its
// arguments through TBuiltinArgs, only those it uses and in a fixed order, so that a
// missing argument is reported by its position and an unused one is never evaluated.
#include "expr/KvIParsBuiltins.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <string>

#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "cells/KvText.h"
#include "expr/KvIParsDateText.h"
#include "expr/KvIParsValues.h"

namespace {

// ---- 8-bit character tables of Windows-1252, the code page of Clarion data ----

struct CodePageTables {
  std::array<bool, 256> alpha{};
  std::array<unsigned char, 256> upper{};
};

constexpr CodePageTables MakeCodePageTables() {
  CodePageTables t{};
  for (int c = 0; c < 256; ++c) t.upper[c] = static_cast<unsigned char>(c);
  for (int c = 'A'; c <= 'Z'; ++c) t.alpha[c] = true;
  for (int c = 'a'; c <= 'z'; ++c) {
    t.alpha[c] = true;
    t.upper[c] = static_cast<unsigned char>(c - 32);
  }
  // Letters above 127: f-hook, S/s caron, OE/oe ligatures, Z/z caron, Y diaeresis,
  // the ordinal indicators, micro sign, and the Latin-1 letter block without the
  // multiplication and division signs.
  for (int c : {0x83, 0x8A, 0x8C, 0x8E, 0x9A, 0x9C, 0x9E, 0x9F, 0xAA, 0xB5, 0xBA}) {
    t.alpha[c] = true;
  }
  for (int c = 0xC0; c <= 0xFF; ++c) {
    if (c != 0xD7 && c != 0xF7) t.alpha[c] = true;
  }
  // Upper-case partners: the small letters 0xE0-0xFE (not the division sign) map 32
  // down; s caron, oe, z caron and y diaeresis map into the 0x80 row. Sharp s, the
  // f-hook, the micro sign and the ordinal indicators have none.
  for (int c = 0xE0; c <= 0xFE; ++c) {
    if (c != 0xF7) t.upper[c] = static_cast<unsigned char>(c - 32);
  }
  t.upper[0x9A] = 0x8A;
  t.upper[0x9C] = 0x8C;
  t.upper[0x9E] = 0x8E;
  t.upper[0xFF] = 0x9F;
  return t;
}

constexpr CodePageTables kCodePage = MakeCodePageTables();

bool IsAlphaChar(char c) { return kCodePage.alpha[static_cast<unsigned char>(c)]; }

std::string UpperCodePage(std::string s) {
  for (char& c : s) c = static_cast<char>(kCodePage.upper[static_cast<unsigned char>(c)]);
  return s;
}

bool IsControlOrBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

// ---- Argument access: every read goes through args.Get, in the caller's order ----

std::string TextArg(TBuiltinArgs& args, int i) { return TextOf(args.Get(i)); }
std::int32_t IntArg(TBuiltinArgs& args, int i) { return ToInteger(args.Get(i)); }
double RealArg(TBuiltinArgs& args, int i) { return ToReal(args.Get(i)); }

[[noreturn]] void ThrowInvalidFloatOp() { throw EInvalidOp("Invalid floating point operation"); }
[[noreturn]] void ThrowFloatZeroDivide() { throw EZeroDivide("Floating point division by zero"); }
[[noreturn]] void ThrowFloatOverflow() { throw EOverflow("Floating point overflow"); }

// ---- Text functions ----

Variant Substr(TBuiltinArgs& args) {
  const std::int32_t length = IntArg(args, 2);
  std::int32_t start = IntArg(args, 1);
  const std::string text = TextArg(args, 0);
  if (start < 1) start = 1;
  if (length < 1 || static_cast<std::size_t>(start) > text.size()) return Variant::String("");
  return Variant::String(
      text.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(length)));
}

Variant ReplaceStr(TBuiltinArgs& args) {
  const bool ignoreCase = ToBoolean(args.Get(3));
  const bool replaceAll = ToBoolean(args.Get(4));
  const std::string replacement = TextArg(args, 2);
  const std::string pattern = TextArg(args, 1);
  const std::string text = TextArg(args, 0);
  if (text.empty() || pattern.empty()) return Variant::String(text);

  // The search runs on upper-cased copies; the kept pieces come from the original.
  const std::string searchText = ignoreCase ? UpperCodePage(text) : text;
  const std::string searchPattern = ignoreCase ? UpperCodePage(pattern) : pattern;
  std::string result;
  std::size_t pos = 0;
  while (true) {
    const std::size_t found = searchText.find(searchPattern, pos);
    if (found == std::string::npos) break;
    result.append(text, pos, found - pos);
    result += replacement;
    pos = found + pattern.size();
    if (!replaceAll) break;
  }
  result.append(text, pos, std::string::npos);
  return Variant::String(std::move(result));
}

Variant Pad(TBuiltinArgs& args, bool left) {
  char padChar = ' ';
  if (args.Count() >= 3) {
    const std::string padText = TextArg(args, 2);
    if (!padText.empty()) padChar = padText[0];  // an empty pad text pads with blanks
  }
  const std::int32_t width = IntArg(args, 1);
  std::string text = TextArg(args, 0);
  if (width <= 0) return Variant::String("");
  if (text.size() > static_cast<std::size_t>(width)) text.resize(static_cast<std::size_t>(width));
  const std::string padding(static_cast<std::size_t>(width) - text.size(), padChar);
  return Variant::String(left ? padding + text : text + padding);
}

Variant Chr(TBuiltinArgs& args) {
  const std::int32_t code = IntArg(args, 0);
  return Variant::String(std::string(1, static_cast<char>(code & 0xFF)));
}

Variant ChangeAsciiCase(TBuiltinArgs& args, bool toUpper) {
  std::string text = TextArg(args, 0);
  for (char& c : text) {
    if (toUpper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (!toUpper && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return Variant::String(std::move(text));
}

std::string_view TrimView(std::string_view s, bool atStart, bool atEnd) {
  if (atStart) {
    while (!s.empty() && IsControlOrBlank(s.front())) s.remove_prefix(1);
  }
  if (atEnd) {
    while (!s.empty() && IsControlOrBlank(s.back())) s.remove_suffix(1);
  }
  return s;
}

Variant TrimText(TBuiltinArgs& args, bool atStart, bool atEnd) {
  Variant v = args.Get(0);
  if (v.IsText()) {
    // The text is trimmed where it is; a String with nothing to cut is the result.
    const std::string_view trimmed = TrimView(v.AsString(), atStart, atEnd);
    if (v.Kind() == VarKind::String && trimmed.size() == v.AsString().size()) return v;
    return Variant::String(trimmed);
  }
  const std::string text = TextOf(v);
  return Variant::String(TrimView(text, atStart, atEnd));
}

// 1-based position of needle in haystack, 0 when absent or when needle is empty.
std::int32_t Position(const std::string& needle, const std::string& haystack) {
  if (needle.empty()) return 0;
  const std::size_t found = haystack.find(needle);
  return found == std::string::npos ? 0 : static_cast<std::int32_t>(found + 1);
}

Variant Pos(TBuiltinArgs& args) {
  const std::string haystack = TextArg(args, 1);
  const std::string needle = TextArg(args, 0);
  return Variant::Integer(Position(needle, haystack));
}

Variant Ord(TBuiltinArgs& args) {
  const std::string text = TextArg(args, 0);
  return Variant::Integer(text.empty() ? 0 : static_cast<unsigned char>(text[0]));
}

// ---- Conversion functions ----

Variant StrToFloatFn(TBuiltinArgs& args) {
  const std::string text = TextArg(args, 0);
  double value = 0;
  if (!TryTextToDouble(text, CurrentSettings(), value)) {
    throw EConvertError("'" + text + "' is not a valid floating point value");
  }
  return Variant::Double(value);
}

Variant Coalesce(TBuiltinArgs& args) {
  for (int i = 0; i < args.Count(); ++i) {
    Variant v = args.Get(i);
    if (!v.IsNullOrEmpty() && !TextOf(v).empty()) return v;
  }
  return Variant::Null();
}

TDateTime TextToDate(const std::string& text) {
  TDateTime value = 0;
  if (!TryTextToDate(text, CurrentSettings(), value)) {
    throw EConvertError("'" + text + "' is not a valid date");
  }
  return value;
}

// A separator character for DATETIMEFROMSTRING: the first character of a non-empty
// text, else a blank.
char SeparatorArg(TBuiltinArgs& args, int i) {
  const Variant v = args.Get(i);
  if (!v.IsText()) return ' ';
  const std::string text = TextOf(v);
  return text.empty() ? ' ' : text[0];
}

Variant DateTimeFromString(TBuiltinArgs& args) {
  const char timeSep = SeparatorArg(args, 3);
  const char dateSep = SeparatorArg(args, 2);
  const std::string pattern = TextArg(args, 1);
  const std::string text = TextArg(args, 0);
  return Variant::Date(DateTimeFromText(text, pattern, dateSep, timeSep));
}

// ---- Aggregate functions ----

// MAX and MIN keep a running value; a Null running value is replaced by the next
// argument, and the comparison puts Null below every other value. MAX starts from
// its first argument, so it also works for negative numbers and texts.
Variant Extreme(TBuiltinArgs& args, bool maximum) {
  Variant running = maximum ? args.Get(0) : Variant::Null();
  for (int i = maximum ? 1 : 0; i < args.Count(); ++i) {
    Variant v = args.Get(i);
    if (running.IsNull()) {
      running = std::move(v);
      continue;
    }
    const TCompareResult c = CompareValues(running, v);
    const bool keep = maximum ? c != TCompareResult::Less : c != TCompareResult::Greater;
    if (!keep) running = std::move(v);
  }
  return running;
}

Variant Sum(TBuiltinArgs& args) {
  Variant total = Variant::Integer(0);
  for (int i = 0; i < args.Count(); ++i) {
    total = VariantArithmetic(TArithOp::Add, total, args.Get(i));
  }
  return total;
}

// ---- Numeric functions ----

Variant RoundFn(TBuiltinArgs& args) {
  const double r = RoundHalfEven(RealArg(args, 0));
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) ThrowInvalidFloatOp();
  return Variant::Integer(static_cast<std::int32_t>(r));
}

// The seed of RANDOM: process-wide, 0 at start and never reseeded, so the same
// filter samples the same rows on every run.
std::uint32_t gRandomSeed = 0;

Variant Random(TBuiltinArgs& args) {
  const std::uint32_t range = static_cast<std::uint32_t>(IntArg(args, 0));
  gRandomSeed = gRandomSeed * 134775813u + 1u;
  const std::uint64_t product = static_cast<std::uint64_t>(gRandomSeed) * range;
  return Variant::Integer(static_cast<std::int32_t>(static_cast<std::uint32_t>(product >> 32)));
}

// Logarithms and the exponential run in the widest floating-point type, like the
// rest of the engine's real arithmetic.
long double NaturalLog(double x) {
  if (x == 0) ThrowFloatZeroDivide();
  if (x < 0 || std::isnan(x)) ThrowInvalidFloatOp();
  return std::log(static_cast<long double>(x));
}

Variant CheckedDouble(long double r) {
  const double d = static_cast<double>(r);
  if (std::isinf(d)) ThrowFloatOverflow();
  return Variant::Double(d);
}

Variant BinaryArithmetic(TBuiltinArgs& args, TArithOp op) {
  const Variant left = args.Get(0);
  const Variant right = args.Get(1);
  return VariantArithmetic(op, left, right);
}

Variant Percent(TBuiltinArgs& args) {
  return VariantArithmetic(TArithOp::Divide, BinaryArithmetic(args, TArithOp::Multiply),
                           Variant::Integer(100));
}

// ---- Logic and test functions ----

bool IsNumericText(std::string_view text, char decimalSeparator) {
  text = TrimView(text, true, true);
  bool seenSeparator = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') continue;
    if ((c == '+' || c == '-') && i == 0) continue;
    if (c == decimalSeparator && !seenSeparator) {
      seenSeparator = true;
      continue;
    }
    return false;
  }
  return true;
}

bool IsAlphaText(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!IsAlphaChar(c)) return false;
  }
  return true;
}

// ---- Date functions ----

// The date-time of the argument of YEAR..SECOND: a text is read as a date only.
TDateTime DateArg(TBuiltinArgs& args) {
  const Variant v = args.Get(0);
  if (v.IsText()) return TextToDate(v.AsString());
  return ToReal(v);
}

enum class TDatePart : std::uint8_t { Year, Month, Day, Hour, Minute, Second };

// The one-letter pattern whose formatted text, read back as a number, is the part.
const char* DatePartPattern(TDatePart part) {
  switch (part) {
    case TDatePart::Year:
      return "yyyy";
    case TDatePart::Month:
      return "m";
    case TDatePart::Day:
      return "d";
    case TDatePart::Hour:
      return "h";
    case TDatePart::Minute:
      return "n";
    case TDatePart::Second:
      break;
  }
  return "s";
}

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// YEAR..SECOND give the number the part's pattern formats to. Those digits are the
// calendar part itself (DecodeDate gives years 0..9999, DecodeTime the 24-hour clock),
// so the part is taken straight from the calendar; only settings whose separators are
// digits, under which the digits might read back as another number, go through the text.
Variant DatePartNumber(TBuiltinArgs& args, TDatePart part) {
  const TDateTime dt = DateArg(args);
  const FormatSettings& fs = CurrentSettings();
  if (IsAsciiDigit(fs.DecimalSeparator) || IsAsciiDigit(fs.ThousandSeparator)) {
    return Variant::Integer(
        ToInteger(Variant::String(FormatDateTime(DatePartPattern(part), dt, fs))));
  }
  int year, month, day, hour, minute, second, ms;
  switch (part) {
    case TDatePart::Year:
    case TDatePart::Month:
    case TDatePart::Day:
      DecodeDate(dt, year, month, day);
      return Variant::Integer(part == TDatePart::Year    ? year
                              : part == TDatePart::Month ? month
                                                         : day);
    case TDatePart::Hour:
    case TDatePart::Minute:
    case TDatePart::Second:
      break;
  }
  DecodeTime(dt, hour, minute, second, ms);
  return Variant::Integer(part == TDatePart::Hour     ? hour
                          : part == TDatePart::Minute ? minute
                                                      : second);
}

// The built-ins in their dispatch order (FindBuiltin gives positions in it): the name
// and the function of each, once.
using TBuiltinFunction = Variant (*)(TBuiltinArgs& args);
struct TBuiltinEntry {
  std::string_view Name;
  TBuiltinFunction Call;
};

Variant FracFn(TBuiltinArgs& args) {
  const double x = RealArg(args, 0);
  return Variant::Double(x - std::trunc(x));
}

constexpr TBuiltinEntry kBuiltins[] = {
    {"SUBSTR", Substr},
    {"SUBSTRING", Substr},
    {"COPY", Substr},
    {"REPLACESTR", ReplaceStr},
    {"PADL", [](TBuiltinArgs& a) { return Pad(a, true); }},
    {"PADR", [](TBuiltinArgs& a) { return Pad(a, false); }},
    {"CHR", Chr},
    {"UPPER", [](TBuiltinArgs& a) { return ChangeAsciiCase(a, true); }},
    {"LOWER", [](TBuiltinArgs& a) { return ChangeAsciiCase(a, false); }},
    {"TRIM", [](TBuiltinArgs& a) { return TrimText(a, true, true); }},
    {"TRIMLEFT", [](TBuiltinArgs& a) { return TrimText(a, true, false); }},
    {"TRIMRIGHT", [](TBuiltinArgs& a) { return TrimText(a, false, true); }},
    {"POS", Pos},
    {"STRTOFLOAT", StrToFloatFn},
    {"VARTOSTR", [](TBuiltinArgs& a) { return Variant::String(TextArg(a, 0)); }},
    {"COALESCE", Coalesce},
    {"STRTOINT", [](TBuiltinArgs& a) { return Variant::Integer(StrToInt(TextArg(a, 0))); }},
    {"STRTODATE", [](TBuiltinArgs& a) { return Variant::Date(TextToDate(TextArg(a, 0))); }},
    {"DATETIMEFROMSTRING", DateTimeFromString},
    {"LENGTH",
     [](TBuiltinArgs& a) {
       return Variant::Integer(static_cast<std::int32_t>(TextArg(a, 0).size()));
     }},
    {"ORD", Ord},
    {"INTTOSTR", [](TBuiltinArgs& a) { return Variant::String(std::to_string(IntArg(a, 0))); }},
    {"FLOATTOSTR",
     [](TBuiltinArgs& a) {
       return Variant::String(FormatFloatG(RealArg(a, 0), 15, CurrentSettings()));
     }},
    {"MAX", [](TBuiltinArgs& a) { return Extreme(a, true); }},
    {"MIN", [](TBuiltinArgs& a) { return Extreme(a, false); }},
    {"SUM", Sum},
    {"AVG",
     [](TBuiltinArgs& a) {
       const Variant total = Sum(a);
       return VariantArithmetic(TArithOp::Divide, total, Variant::Integer(a.Count()));
     }},
    {"COUNT", [](TBuiltinArgs& a) { return Variant::Integer(a.Count()); }},
    {"FRAC", FracFn},
    {"INT", [](TBuiltinArgs& a) { return Variant::Double(std::trunc(RealArg(a, 0))); }},
    {"ROUND", RoundFn},
    {"DIV", [](TBuiltinArgs& a) { return BinaryArithmetic(a, TArithOp::IntDiv); }},
    {"MOD", [](TBuiltinArgs& a) { return BinaryArithmetic(a, TArithOp::Mod); }},
    {"RANDOM", Random},
    {"ABS", [](TBuiltinArgs& a) { return Variant::Double(std::fabs(RealArg(a, 0))); }},
    {"POWER",
     [](TBuiltinArgs& a) {
       const double base = RealArg(a, 0);
       const double exponent = RealArg(a, 1);
       return Variant::Double(Power(base, exponent));
     }},
    {"EXP",
     [](TBuiltinArgs& a) {
       return CheckedDouble(std::exp(static_cast<long double>(RealArg(a, 0))));
     }},
    {"LN",
     [](TBuiltinArgs& a) {
       return Variant::Double(static_cast<double>(NaturalLog(RealArg(a, 0))));
     }},
    {"LOG",
     [](TBuiltinArgs& a) {
       return Variant::Double(static_cast<double>(NaturalLog(RealArg(a, 0)) / std::log(10.0L)));
     }},
    {"SQR",
     [](TBuiltinArgs& a) {
       const long double x = RealArg(a, 0);
       return CheckedDouble(x * x);
     }},
    {"SQRT",
     [](TBuiltinArgs& a) {
       const double x = RealArg(a, 0);
       if (x < 0 || std::isnan(x)) ThrowInvalidFloatOp();
       return Variant::Double(std::sqrt(x));
     }},
    {"PERCENT", Percent},
    {"IIF",
     [](TBuiltinArgs& a) {
       const bool condition = ToBoolean(a.Get(0));
       return a.Get(condition ? 1 : 2);
     }},
    {"ISNULL",
     [](TBuiltinArgs& a) {
       const Variant v = a.Get(0);
       return Variant::Boolean(v.IsNullOrEmpty() || TextOf(v).empty());
     }},
    {"ISNUMERIC",
     [](TBuiltinArgs& a) {
       return Variant::Boolean(IsNumericText(TextArg(a, 0), CurrentSettings().DecimalSeparator));
     }},
    {"ISALPHA", [](TBuiltinArgs& a) { return Variant::Boolean(IsAlphaText(TextArg(a, 0))); }},
    {"ISCONTAIN",
     [](TBuiltinArgs& a) {
       const std::string haystack = TextArg(a, 1);
       const std::string needle = TextArg(a, 0);
       return Variant::Boolean(Position(needle, haystack) > 0);
     }},
    {"ISSTARTSWITH",
     [](TBuiltinArgs& a) {
       const std::string prefix = TextArg(a, 0);
       const std::string text = TextArg(a, 1);
       return Variant::Boolean(text.starts_with(prefix));
     }},
    {"ISENDSWITH",
     [](TBuiltinArgs& a) {
       const std::string suffix = TextArg(a, 0);
       const std::string text = TextArg(a, 1);
       return Variant::Boolean(text.ends_with(suffix));
     }},
    {"DATETOSTR",
     [](TBuiltinArgs& a) {
       const FormatSettings& fs = CurrentSettings();
       return Variant::String(FormatDateTime(fs.ShortDateFormat, RealArg(a, 0), fs));
     }},
    {"DATEPART", [](TBuiltinArgs& a) { return Variant::Double(std::trunc(RealArg(a, 0))); }},
    {"TIMEPART", FracFn},
    {"YEAR", [](TBuiltinArgs& a) { return DatePartNumber(a, TDatePart::Year); }},
    {"MONTH", [](TBuiltinArgs& a) { return DatePartNumber(a, TDatePart::Month); }},
    {"DAY", [](TBuiltinArgs& a) { return DatePartNumber(a, TDatePart::Day); }},
    {"HOUR", [](TBuiltinArgs& a) { return DatePartNumber(a, TDatePart::Hour); }},
    {"MINUTE", [](TBuiltinArgs& a) { return DatePartNumber(a, TDatePart::Minute); }},
    {"SECOND", [](TBuiltinArgs& a) { return DatePartNumber(a, TDatePart::Second); }},
};
constexpr int kBuiltinCount = int(std::size(kBuiltins));
// Sixty names with GETDATE and NOW, which the evaluator handles itself.
static_assert(kBuiltinCount == 58);

}  // namespace

int FindBuiltin(std::string_view name) {
  for (int i = 0; i < kBuiltinCount; ++i) {
    if (SameTextAscii(name, kBuiltins[i].Name)) return i;
  }
  return -1;
}

Variant CallBuiltin(int index, TBuiltinArgs& args) {
  if (index < 0 || index >= kBuiltinCount) ThrowListIndex(index);
  return kBuiltins[index].Call(args);
}
