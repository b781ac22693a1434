#include "front/RunOptions.h"

#include <cstdint>
#include <cstdlib>
#include <utility>

#include "cells/KvCodePage.h"
#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
#include "cells/KvText.h"

namespace {

// The Clarion driver ignores trailing blanks of an owner password.
std::string WithoutTrailingBlanks(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return std::string(s);
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// Field names as /FIELDS= keeps them: lower-cased, each followed by ";".
std::string NameList(const std::string& v) { return v.empty() ? v : LowerAscii(v) + ";"; }

[[noreturn]] void BadValue(std::string_view name, std::string_view value,
                           std::string_view accepted) {
  throw Exception("Unknown value of " + std::string(name) + ": \"" + std::string(value) +
                  "\". Accepted: " + std::string(accepted) + ".");
}

}  // namespace

std::string ApplyBackslashForm(const std::string& value) {
  if (value.empty() || value[0] != '\\') return value;
  const std::int32_t code = StrToInt(std::string_view(value).substr(1));
  return std::string(1, char(std::uint8_t(code & 0xFF)));
}

void ApplySwitch(TRunOptions& o, const std::string& argument) {
  const std::string upper = UpperAscii(argument);
  // The value of a switch ending in "=" is the argument as typed after that sign.
  auto valueAfter = [&](std::string_view name) { return argument.substr(name.size()); };

  if (upper == "/H") {
    o.Header = true;
  } else if (upper == "/F") {
    o.TypeLine = true;
  } else if (upper == "/FIXED") {
    o.Fixed = true;
  } else if (StartsWith(upper, "/GROUP=")) {
    o.SkipGroups = valueAfter("/GROUP=") == "0";
  } else if (StartsWith(upper, "/DELIMITER=")) {
    o.Delimiter = ApplyBackslashForm(valueAfter("/DELIMITER="));
  } else if (StartsWith(upper, "/QUALIFIER=")) {
    o.Qualifier = ApplyBackslashForm(valueAfter("/QUALIFIER="));
  } else if (StartsWith(upper, "/RECORDSEPARATOR=")) {
    const std::string v = UpperAscii(valueAfter("/RECORDSEPARATOR="));
    if (v == "CR")
      o.RecordSeparator.assign(1, '\r');
    else if (v == "LF")
      o.RecordSeparator.assign(1, '\n');
    // Anything else, CRLF and the empty value included, keeps the current one.
  } else if (StartsWith(upper, "/FIELDS=")) {
    o.Fields = NameList(valueAfter("/FIELDS="));
  } else if (StartsWith(upper, "/FILTER=")) {
    o.Filter = valueAfter("/FILTER=");
  } else if (StartsWith(upper, "/WHERE=")) {
    o.Filter = valueAfter("/WHERE=");
  } else if (StartsWith(upper, "/TABLE=")) {
    o.TableName = valueAfter("/TABLE=");
  } else if (StartsWith(upper, "/LIST")) {
    o.ListOnly = true;
  } else if (StartsWith(upper, "/OWNER=")) {
    o.Owner = WithoutTrailingBlanks(valueAfter("/OWNER="));
  } else if (StartsWith(upper, "/OWNERENV=")) {
    // The password comes from an environment variable, out of reach of the shell's
    // quoting and of process lists.
    const std::string name = valueAfter("/OWNERENV=");
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    if (!value)
      throw Exception("The environment variable " + name + " named by /OWNERENV= is not set");
    o.Owner = WithoutTrailingBlanks(value);
  } else if (upper == "/CSV") {
    // A CSV that spreadsheets, databases and CSV libraries read exactly; later
    // switches override any of these.
    o.Csv = true;
    o.Delimiter = ",";
    o.Qualifier = "\"";
    o.Qualify = TQualify::Needed;
    o.Header = true;
    o.RecordSeparator = "\r\n";
    o.Utf8 = true;
    o.Blob = TBlobForm::Base64;
    o.IsoValues = true;
  } else if (upper == "/UTF8") {
    o.Utf8 = true;
  } else if (upper == "/BOM") {
    o.Bom = true;
  } else if (StartsWith(upper, "/CODEPAGE=")) {
    const std::string v = valueAfter("/CODEPAGE=");
    if (!TryParseCodePage(v, o.CodePage)) throw Exception(CodePageErrorMessage(v));
  } else if (StartsWith(upper, "/QUALIFY=")) {
    const std::string v = UpperAscii(valueAfter("/QUALIFY="));
    if (v == "ALL")
      o.Qualify = TQualify::All;
    else if (v == "NEEDED")
      o.Qualify = TQualify::Needed;
    else
      BadValue("/QUALIFY=", valueAfter("/QUALIFY="), "ALL or NEEDED");
  } else if (StartsWith(upper, "/BLOB=")) {
    static constexpr std::pair<std::string_view, TBlobForm> kForms[] = {
        {"RAW", TBlobForm::Raw},
        {"BASE64", TBlobForm::Base64},
        {"HEX", TBlobForm::Hex},
        {"FILES", TBlobForm::Files},
        {"OMIT", TBlobForm::Omit}};
    const std::string v = UpperAscii(valueAfter("/BLOB="));
    bool known = false;
    for (const auto& [name, form] : kForms)
      if (v == name) o.Blob = form, known = true;
    if (!known) BadValue("/BLOB=", valueAfter("/BLOB="), "RAW, BASE64, HEX, FILES or OMIT");
  } else if (upper == "/TRIM" || StartsWith(upper, "/TRIM=")) {
    const std::string v = upper == "/TRIM" ? "1" : valueAfter("/TRIM=");
    if (v != "0" && v != "1") BadValue("/TRIM=", v, "0 or 1");
    o.Trim = v == "1";
  } else if (StartsWith(upper, "/DATES=")) {
    o.DateFields = NameList(valueAfter("/DATES="));
  } else if (StartsWith(upper, "/TIMES=")) {
    o.TimeFields = NameList(valueAfter("/TIMES="));
  }
}

TRunOptions ParseRunOptions(const std::vector<std::string>& arguments) {
  TRunOptions o;
  if (arguments.size() > 0) o.Source = arguments[0];
  if (arguments.size() > 1) o.Target = arguments[1];
  for (const std::string& a : arguments) ApplySwitch(o, a);
  if (o.Csv && o.Fixed)
    throw Exception(
        "/CSV and /FIXED cannot be used together: a CSV file has no fixed-width "
        "fields. Leave out one of them.");
  return o;
}

std::string UsageText() {
  return "VELTRO v2.7\r\n"
         "convert TopSpeed TPS tables into text files\r\n"
         "\r\n"
         "\r\n"
         "VELTRO.EXE <source.tps> <target.txt> [/h [/f]] [/fixed] [/delimiter=<separator>] "
         "[/qualifier=<char>] [/recordseparator=<crlf|cr|lf|>] [/group={0|1}] "
         "[/fields=<field1;field2;...>] [where=<filter>] [table=<table_name>]\r\n"
         "Encrypted files: /owner=<password> or /ownerenv=<environment variable holding it>\r\n"
         "Text for other tools: [/csv] [/utf8] [/bom] [/codepage=<cp>] [/qualify=<all|needed>] "
         "[/blob=<raw|base64|hex|files|omit>] [/trim[=0|1]] [/dates=<field1;field2;...>] "
         "[/times=<field1;field2;...>]\r\n";
}
