#include "front/RunOptions.h"

#include <cstdint>
#include <cstdlib>

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
    const std::string v = valueAfter("/FIELDS=");
    o.Fields = v.empty() ? v : LowerAscii(v) + ";";
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
  } else if (StartsWith(upper, "/JOBS=")) {
    const std::string v = valueAfter("/JOBS=");
    std::int32_t jobs = 0;
    if (!TryStrToInt(v, jobs) || jobs < 1 || jobs > 1024)
      throw EConvertError("/JOBS= needs a number of workers from 1 to 1024, not '" + v + "'");
    o.Jobs = unsigned(jobs);
  } else if (upper == "/RECURSE") {
    o.Recurse = true;
  } else if (upper == "/PROGRESS") {
    o.Progress = true;
  } else if (upper == "/QUIET") {
    o.Quiet = true;
  } else if (StartsWith(upper, "/RUNSTATS=")) {
    o.RunStatsPath = valueAfter("/RUNSTATS=");
  }
}

TRunOptions ParseRunOptions(const std::vector<std::string>& arguments) {
  TRunOptions o;
  if (arguments.size() > 0) o.Source = arguments[0];
  if (arguments.size() > 1) o.Target = arguments[1];
  for (const std::string& a : arguments) ApplySwitch(o, a);
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
         "Encrypted files: /owner=<password> or /ownerenv=<environment variable holding it>\r\n";
}
