#include "front/RunOptions.h"

#include <algorithm>
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
  return std::string(TrimEnd(s, [](char c) { return c == ' '; }));
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// Field names as /FIELDS= keeps them: lower-cased, each followed by ";".
std::string NameList(const std::string& v) { return v.empty() ? v : LowerAscii(v) + ";"; }

// The switches of text for other tools refuse a value they do not take: they are new,
// and a run that silently wrote something else than asked would be worse than none.
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

namespace {

void SetGroup(TRunOptions& o, const std::string& v) { o.SkipGroups = v == "0"; }

void SetRecordSeparator(TRunOptions& o, const std::string& value) {
  const std::string v = UpperAscii(value);
  if (v == "CR")
    o.RecordSeparator.assign(1, '\r');
  else if (v == "LF")
    o.RecordSeparator.assign(1, '\n');
  // Anything else, CRLF and the empty value included, keeps the current one.
}

void SetFields(TRunOptions& o, const std::string& v) { o.Fields = NameList(v); }

// A CSV that spreadsheets, databases and CSV libraries read exactly; later switches
// override any of these.
void SetCsv(TRunOptions& o, const std::string&) {
  o.Csv = true;
  o.Delimiter = ",";
  o.Qualifier = "\"";
  o.Qualify = TQualify::Needed;
  o.Header = true;
  o.RecordSeparator = "\r\n";
  o.Utf8 = true;
  o.Blob = TBlobForm::Base64;
  o.IsoValues = true;
}

void SetCodePage(TRunOptions& o, const std::string& v) {
  if (!TryParseCodePage(v, o.CodePage)) throw Exception(CodePageErrorMessage(v));
}

void SetQualify(TRunOptions& o, const std::string& value) {
  const std::string v = UpperAscii(value);
  if (v == "ALL")
    o.Qualify = TQualify::All;
  else if (v == "NEEDED")
    o.Qualify = TQualify::Needed;
  else
    BadValue("/QUALIFY=", value, "ALL or NEEDED");
}

void SetBlob(TRunOptions& o, const std::string& value) {
  static constexpr std::pair<std::string_view, TBlobForm> kForms[] = {{"RAW", TBlobForm::Raw},
                                                                      {"BASE64", TBlobForm::Base64},
                                                                      {"HEX", TBlobForm::Hex},
                                                                      {"FILES", TBlobForm::Files},
                                                                      {"OMIT", TBlobForm::Omit}};
  const std::string v = UpperAscii(value);
  for (const auto& [name, form] : kForms)
    if (v == name) {
      o.Blob = form;
      return;
    }
  BadValue("/BLOB=", value, "RAW, BASE64, HEX, FILES or OMIT");
}

void SetTrim(TRunOptions& o, const std::string& v) {
  if (v != "0" && v != "1") BadValue("/TRIM=", v, "0 or 1");
  o.Trim = v == "1";
  o.TrimGiven = true;
}

void SetOwnerFromEnvironment(TRunOptions& o, const std::string& name) {
  // The password comes from an environment variable, out of reach of the shell's
  // quoting and of process lists.
  const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
  if (!value)
    throw Exception("The environment variable " + name + " named by /OWNERENV= is not set");
  o.Owner = WithoutTrailingBlanks(value);
}

void SetJobs(TRunOptions& o, const std::string& v) {
  std::int32_t jobs = 0;
  if (!TryStrToInt(v, jobs) || jobs < 1 || jobs > 1024)
    throw EConvertError("/JOBS= needs a number of workers from 1 to 1024, not '" + v + "'");
  o.Jobs = unsigned(jobs);
}

// The output forms /FORMAT= names; any other value ends the run before anything is
// written.
void SetFormat(TRunOptions& o, const std::string& value) {
  static constexpr std::pair<std::string_view, TOutputKind> kOutputForms[] = {
      {"TEXT", TOutputKind::Text},
      {"JSONL", TOutputKind::JsonLines},
      {"SQLITE", TOutputKind::Sqlite},
      {"SQL", TOutputKind::Sql}};
  const std::string v = UpperAscii(value);
  for (const auto& [name, kind] : kOutputForms)
    if (v == name) {
      o.Format = kind;
      return;
    }
  throw Exception("Unknown output form /FORMAT=" + value + ": give TEXT, JSONL, SQLITE or SQL");
}

using F = TSwitchForm;

// Every switch of the program must be listed here, one entry each: the parser, the test
// of the first two arguments and the unknown-switch warning with its suggestion read
// this table and nothing else, so a new switch is one more line here (a switch missing
// from it is ignored with a warning). The order is the order of the tests (the first
// match wins).
const std::vector<TSwitch> kSwitches = {
    {"/H", F::sfFlag, "", [](TRunOptions& o, const std::string&) { o.Header = true; }},
    {"/F", F::sfFlag, "", [](TRunOptions& o, const std::string&) { o.TypeLine = true; }},
    {"/FIXED", F::sfFlag, "", [](TRunOptions& o, const std::string&) { o.Fixed = true; }},
    {"/GROUP", F::sfValue, "0|1", SetGroup},
    {"/DELIMITER", F::sfValue, "",
     [](TRunOptions& o, const std::string& v) { o.Delimiter = ApplyBackslashForm(v); }},
    {"/QUALIFIER", F::sfValue, "",
     [](TRunOptions& o, const std::string& v) { o.Qualifier = ApplyBackslashForm(v); }},
    {"/RECORDSEPARATOR", F::sfValue, "CRLF|CR|LF|", SetRecordSeparator},
    {"/FIELDS", F::sfValue, "", SetFields},
    {"/FILTER", F::sfValue, "", [](TRunOptions& o, const std::string& v) { o.Filter = v; }},
    {"/WHERE", F::sfValue, "", [](TRunOptions& o, const std::string& v) { o.Filter = v; }},
    {"/TABLE", F::sfValue, "", [](TRunOptions& o, const std::string& v) { o.TableName = v; }},
    {"/LIST", F::sfPrefix, "", [](TRunOptions& o, const std::string&) { o.ListOnly = true; }},
    {"/OWNER", F::sfValue, "",
     [](TRunOptions& o, const std::string& v) { o.Owner = WithoutTrailingBlanks(v); }},
    {"/OWNERENV", F::sfValue, "", SetOwnerFromEnvironment},
    // Text for other tools. Their values are checked by the switch itself (a bad one
    // ends the run), so no closed set is given here.
    {"/CSV", F::sfFlag, "", SetCsv},
    {"/UTF8", F::sfFlag, "", [](TRunOptions& o, const std::string&) { o.Utf8 = true; }},
    {"/BOM", F::sfFlag, "", [](TRunOptions& o, const std::string&) { o.Bom = true; }},
    {"/CODEPAGE", F::sfValue, "", SetCodePage},
    {"/QUALIFY", F::sfValue, "", SetQualify},
    {"/BLOB", F::sfValue, "", SetBlob},
    {"/TRIM", F::sfFlag, "", [](TRunOptions& o, const std::string&) { SetTrim(o, "1"); }},
    {"/TRIM", F::sfValue, "", SetTrim},
    {"/SCHEMA", F::sfFlag, "", [](TRunOptions& o, const std::string&) { o.SchemaOnly = true; }},
    {"/DATES", F::sfValue, "",
     [](TRunOptions& o, const std::string& v) { o.DateFields = NameList(v); }},
    {"/TIMES", F::sfValue, "",
     [](TRunOptions& o, const std::string& v) { o.TimeFields = NameList(v); }},
    {"/FORMAT", F::sfValue, "TEXT|JSONL|SQLITE|SQL", SetFormat},
    // Damaged files.
    {"/STRICT", F::sfFlag, "", [](TRunOptions& o, const std::string&) { o.Strict = true; }},
    {"/DEFINITIONS", F::sfValue, "",
     [](TRunOptions& o, const std::string& v) { o.DefinitionsFile = v; }},
    {"/JOBS", F::sfValue, "", SetJobs},
    {"/RECURSE", F::sfFlag, "", [](TRunOptions& o, const std::string&) { o.Recurse = true; }},
    {"/PROGRESS", F::sfFlag, "", [](TRunOptions& o, const std::string&) { o.Progress = true; }},
    {"/QUIET", F::sfFlag, "", [](TRunOptions& o, const std::string&) { o.Quiet = true; }},
    {"/RUNSTATS", F::sfValue, "", [](TRunOptions& o, const std::string& v) { o.RunStatsPath = v; }},
    {"/TABLENAMESTO", F::sfValue, "",
     [](TRunOptions& o, const std::string& v) { o.TableNamesPath = v; }},
    {"/RENAMETABLES", F::sfValue, "",
     [](TRunOptions& o, const std::string& v) { o.TableRenamesPath = v; }},
};

// How a switch is written in messages: lower case, with "=" when it takes a value.
std::string ShownName(const TSwitch& s) {
  std::string out = LowerAscii(s.Name);
  if (s.Form == TSwitchForm::sfValue) out += '=';
  return out;
}

// Whether Value is one of the "|"-separated upper-case Values (letter case ignored).
bool ValueAccepted(std::string_view values, std::string_view value) {
  const std::string v = UpperAscii(value);
  std::size_t from = 0;
  while (true) {
    const std::size_t bar = values.find('|', from);
    if (values.substr(from, bar == std::string_view::npos ? bar : bar - from) == v) return true;
    if (bar == std::string_view::npos) return false;
    from = bar + 1;
  }
}

// "CRLF, CR, LF or nothing" for "CRLF|CR|LF|".
std::string ValuesShown(std::string_view values) {
  std::vector<std::string> items;
  std::size_t from = 0;
  while (true) {
    const std::size_t bar = values.find('|', from);
    const std::string_view item =
        values.substr(from, bar == std::string_view::npos ? bar : bar - from);
    items.push_back(item.empty() ? "nothing" : LowerAscii(item));
    if (bar == std::string_view::npos) break;
    from = bar + 1;
  }
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += i + 1 == items.size() ? " or " : ", ";
    out += items[i];
  }
  return out;
}

// The switch name nearest to what Argument seems to mean (at most 2 edits away), or
// null. A leading "-" or "--" is read as "/", and an argument without either gets one,
// so "-h" and "h" both find "/h".
const TSwitch* NearestSwitch(std::string_view argument) {
  std::string name = UpperAscii(argument.substr(0, argument.find('=') + 1));
  if (name.empty()) name = UpperAscii(argument);
  const std::size_t dashes = name.find_first_not_of('-');
  if (dashes > 0 && dashes != std::string::npos)
    name.replace(0, dashes, "/");
  else if (name.empty() || name[0] != '/')
    name.insert(0, "/");
  const TSwitch* best = nullptr;
  std::size_t bestDistance = 3;
  for (const TSwitch& s : kSwitches) {
    const std::size_t d = EditDistance(name, UpperAscii(ShownName(s)));
    if (d < bestDistance) {
      best = &s;
      bestDistance = d;
    }
  }
  return best;
}

}  // namespace

const std::vector<TSwitch>& SwitchTable() { return kSwitches; }

const TSwitch* FindSwitch(std::string_view argument, bool exact) {
  const std::string upper = UpperAscii(argument);
  for (const TSwitch& s : kSwitches) {
    switch (s.Form) {
      case TSwitchForm::sfFlag:
        if (upper == s.Name) return &s;
        break;
      case TSwitchForm::sfValue:
        if (upper.size() > s.Name.size() && StartsWith(upper, s.Name) &&
            upper[s.Name.size()] == '=')
          return &s;
        break;
      case TSwitchForm::sfPrefix:
        if (exact ? upper == s.Name : StartsWith(upper, s.Name)) return &s;
        break;
    }
  }
  return nullptr;
}

void ApplySwitch(TRunOptions& o, const std::string& argument) {
  const TSwitch* s = FindSwitch(argument);
  if (s == nullptr) return;
  // The value of a switch ending in "=" is the argument as typed after that sign.
  s->Apply(o,
           s->Form == TSwitchForm::sfValue ? argument.substr(s->Name.size() + 1) : std::string());
}

std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string SwitchWarning(std::string_view argument) {
  const TSwitch* s = FindSwitch(argument);
  if (s != nullptr) {
    if (s->Values.empty()) return "";
    const std::string_view value = argument.substr(s->Name.size() + 1);
    if (ValueAccepted(s->Values, value)) return "";
    return "Warning: unknown value \"" + std::string(value) + "\" of " + ShownName(*s) +
           " (it takes " + ValuesShown(s->Values) + ").";
  }
  const bool looksLikeSwitch = !argument.empty() && (argument[0] == '/' || argument[0] == '-');
  std::string out =
      looksLikeSwitch
          ? "Warning: unknown switch \"" + std::string(argument) + "\" was ignored"
          : "Warning: argument \"" + std::string(argument) + "\" is no switch and was ignored";
  if (const TSwitch* near = NearestSwitch(argument))
    out += " (did you mean " + ShownName(*near) + "?)";
  return out + ".";
}

TRunOptions ParseRunOptions(const std::vector<std::string>& arguments,
                            std::vector<std::string>* warnings) {
  TRunOptions o;
  if (arguments.size() > 0) o.Source = arguments[0];
  if (arguments.size() > 1) {
    if (FindSwitch(arguments[1], true) != nullptr)
      o.TargetSwitch = arguments[1];
    else
      o.Target = arguments[1];
  }
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    if (i < 2) {
      // Paths may begin with "/": only an exact switch counts here.
      if (FindSwitch(a, true) != nullptr) ApplySwitch(o, a);
      continue;
    }
    if (warnings != nullptr) {
      std::string w = SwitchWarning(a);
      if (!w.empty()) warnings->push_back(std::move(w));
    }
    ApplySwitch(o, a);
  }
  if (o.Csv && o.Fixed)
    throw Exception(
        "/CSV and /FIXED cannot be used together: a CSV file has no fixed-width "
        "fields. Leave out one of them.");
  if (o.Format == TOutputKind::Sql && o.Blob == TBlobForm::Files)
    throw Exception(
        "/BLOB=FILES is not available with /FORMAT=SQL, whose script holds the BLOBs' bytes: "
        "leave /BLOB= out.");
  return o;
}

std::string MissingTargetMessage(const TRunOptions& o) {
  // Runs that print instead of converting need no target (a new such switch joins here).
  if (o.ListOnly || o.SchemaOnly) return "";
  if (!o.TargetSwitch.empty())
    return "No target file given: \"" + o.TargetSwitch + "\" is a switch.";
  if (o.Target.empty()) return "No target file given.";
  // "-" alone is standard output; "-h" or "--help" is a switch typed the usual way of
  // other programs, not a file the user means to create.
  if (o.Target.size() > 1 && o.Target[0] == '-')
    return "No target file given: \"" + o.Target + "\" is read as a switch; write ./" + o.Target +
           " for a file of that name.";
  return "";
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
         "[/times=<field1;field2;...>]\r\n"
         "Typed outputs: /format=<text|jsonl|sqlite> (JSON Lines files, or the target is a "
         "SQLite database)\r\n"
         "The definitions of the tables instead of converting: /schema [table=<table_name>]\r\n"
         "One SQL script for PostgreSQL: /format=sql [/trim=0] [/codepage=<cp>]\r\n"
         "Damaged files: /strict (the first damage ends the run) or /definitions=<file.tps> "
         "(definitions from another file of the application)\r\n"
         "A whole folder: <folder or pattern> <target folder> [/jobs=<n>] [/recurse] "
         "[/progress] [/quiet]; with /format=sqlite a target that is no existing folder and "
         "does not end with a separator is one database holding every table\r\n"
         "Exit codes: 0 done, 1 failed, 2 file or table not found, 3 written but the file is "
         "damaged and something was lost (see the warnings)\r\n";
}
