// The expression engine on arbitrary filter texts, evaluated against a small row: an
// OnEvaluate handler answers a few field names (bare, in brackets or in quotes) with
// values of every kind a row holds. The result is then turned into a truth value
// and a text, as the row filter and the export do.
//
// Errors of the engine are the project's exceptions; anything else is a defect.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "expr/KvIPars.h"
#include "expr/KvIParsValues.h"

namespace {

std::string Bare(std::string name) {
  if (name.size() >= 2 &&
      ((name.front() == '[' && name.back() == ']') || (name.front() == '"' && name.back() == '"') ||
       (name.front() == '\'' && name.back() == '\'')))
    name = name.substr(1, name.size() - 2);
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return name;
}

void Answer(TKvIParser*, const std::string& eval, const TEvalArgs&, int, bool, Variant& value,
            bool& done) {
  const std::string n = Bare(eval);
  if (n == "ID") {
    value = Variant::Integer(42);
  } else if (n == "NAME") {
    value = Variant::String("Smith, Anna");
  } else if (n == "AMOUNT") {
    value = Variant::CurrencyScaled(-12345600);  // -1234.56
  } else if (n == "PRICE") {
    value = Variant::Double(3.25);
  } else if (n == "SINCE") {
    value = Variant::Date(43831.0);  // 2020-01-01
  } else if (n == "QTY") {
    value = Variant::SmallInt(7);
  } else if (n == "FLAG") {
    value = Variant::Boolean(true);
  } else if (n == "NOTES") {
    value = Variant::Null();
  } else if (n == "EMPTY") {
    value = Variant();
  } else {
    return;
  }
  done = true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool once = [] {
    SetCurrentSettings(FormatSettings::Iso());
    return true;
  }();
  (void)once;
  TKvIParser p;
  p.Text.assign(reinterpret_cast<const char*>(data), size);
  p.OnEvaluate = Answer;
  try {
    const Variant v = p.Calculate();
    (void)TextOf(v);
    (void)ToBoolean(v);
  } catch (const Exception&) {
  }
  // A second evaluation reuses the built tree.
  try {
    (void)p.Calculate();
  } catch (const Exception&) {
  }
  return 0;
}
