#include <gtest/gtest.h>

#include "cells/KvExceptions.h"
#include "cells/KvText.h"
#include "front/RunOptions.h"

namespace {
TRunOptions Parse(std::vector<std::string> args) {
  args.insert(args.begin(), {"src.tps", "out.txt"});
  return ParseRunOptions(args);
}
}  // namespace

TEST(RunOptions, DefaultsAndPositions) {
  const TRunOptions o = ParseRunOptions({"a.tps", "b.txt"});
  EXPECT_EQ(o.Source, "a.tps");
  EXPECT_EQ(o.Target, "b.txt");
  EXPECT_EQ(o.Delimiter, "\t");
  EXPECT_EQ(o.Qualifier, std::string(1, '\0'));
  EXPECT_EQ(o.RecordSeparator, "\r\n");
  EXPECT_FALSE(o.Fixed || o.Header || o.TypeLine || o.SkipGroups || o.ListOnly);
  EXPECT_EQ(o.Fields, "");
  EXPECT_EQ(o.Filter, "");
  EXPECT_EQ(o.TableName, "");
}

TEST(RunOptions, FlagsAreCaseInsensitiveAndExact) {
  const TRunOptions o = Parse({"/h", "/F", "/Fixed"});
  EXPECT_TRUE(o.Header && o.TypeLine && o.Fixed);
  const TRunOptions p = Parse({"/hh", "/fx", "/fixedx", "-h"});
  EXPECT_FALSE(p.Header || p.TypeLine || p.Fixed);
  EXPECT_TRUE(Parse({"/LISTING"}).ListOnly);
  EXPECT_TRUE(Parse({"/list"}).ListOnly);
  EXPECT_FALSE(Parse({"/LIS"}).ListOnly);
  EXPECT_TRUE(Parse({"/Schema"}).SchemaOnly);
  EXPECT_FALSE(Parse({"/schemas"}).SchemaOnly);
}

TEST(RunOptions, DelimiterAndQualifierWithBackslashForm) {
  EXPECT_EQ(Parse({"/DELIMITER=;"}).Delimiter, ";");
  EXPECT_EQ(Parse({"/delimiter=\\59"}).Delimiter, ";");
  EXPECT_EQ(Parse({"/delimiter=\\44"}).Delimiter, ",");
  EXPECT_EQ(Parse({"/delimiter=\\9"}).Delimiter, "\t");
  EXPECT_EQ(Parse({"/delimiter=\\0"}).Delimiter, std::string(1, '\0'));
  EXPECT_EQ(Parse({"/delimiter=\\$2C"}).Delimiter, ",");
  EXPECT_EQ(Parse({"/delimiter=\\300"}).Delimiter, std::string(1, char(300 & 0xFF)));
  EXPECT_EQ(Parse({"/delimiter=\\ 59"}).Delimiter, ";");
  EXPECT_EQ(Parse({"/delimiter="}).Delimiter, "");
  EXPECT_EQ(Parse({"/delimiter=<|>"}).Delimiter, "<|>");
  EXPECT_EQ(Parse({"/qualifier=\\34"}).Qualifier, "\"");
  EXPECT_EQ(Parse({"/QUALIFIER='"}).Qualifier, "'");
  // The backslash form belongs to these two switches only.
  EXPECT_EQ(Parse({"/table=\\44"}).TableName, "\\44");
}

TEST(RunOptions, BadBackslashNumberFails) {
  for (const char* arg : {"/delimiter=\\x", "/qualifier=\\", "/delimiter=\\12a"}) {
    try {
      Parse({arg});
      ADD_FAILURE() << arg << " was accepted";
    } catch (const Exception& e) {
      const std::string rest = std::string(arg).substr(std::string(arg).find('\\') + 1);
      EXPECT_EQ(e.Message(), "'" + rest + "' is not a valid integer value") << arg;
    }
  }
}

TEST(RunOptions, RecordSeparatorGroupFieldsFilterTable) {
  EXPECT_EQ(Parse({"/recordseparator=lf"}).RecordSeparator, "\n");
  EXPECT_EQ(Parse({"/RECORDSEPARATOR=Cr"}).RecordSeparator, "\r");
  EXPECT_EQ(Parse({"/recordseparator=lf", "/recordseparator=crlf"}).RecordSeparator, "\n");
  EXPECT_EQ(Parse({"/recordseparator=cr", "/recordseparator="}).RecordSeparator, "\r");
  EXPECT_EQ(Parse({"/recordseparator=x"}).RecordSeparator, "\r\n");

  EXPECT_TRUE(Parse({"/group=0"}).SkipGroups);
  EXPECT_FALSE(Parse({"/group=0", "/group=1"}).SkipGroups);
  EXPECT_FALSE(Parse({"/group=0", "/GROUP="}).SkipGroups);
  EXPECT_FALSE(Parse({"/group=00"}).SkipGroups);

  EXPECT_EQ(Parse({"/fields=Name;CITY"}).Fields, "name;city;");
  EXPECT_EQ(Parse({"/fields=a", "/FIELDS="}).Fields, "");

  const std::string expr = "NAME = \"Smith\" AND Qty>3";
  EXPECT_EQ(Parse({"/where=" + expr}).Filter, expr);
  EXPECT_EQ(Parse({"/FILTER=" + expr}).Filter, expr);
  EXPECT_EQ(Parse({"/where=a=b"}).Filter, "a=b");

  EXPECT_EQ(Parse({"/Table=Orders"}).TableName, "Orders");
  EXPECT_EQ(Parse({"/table=A", "/table=b"}).TableName, "b");
}

TEST(RunOptions, PathsAreTestedAsSwitchesToo) {
  // A source path that reads as a switch still sets it; the value stays the path.
  const TRunOptions o = ParseRunOptions({"/h", "/list"});
  EXPECT_EQ(o.Source, "/h");
  EXPECT_TRUE(o.Header);
  EXPECT_TRUE(o.ListOnly);
}

TEST(RunOptions, UsageTextBytes) {
  EXPECT_EQ(UsageText(),
            "VELTRO v2.7\r\n"
            "convert TopSpeed TPS tables into text files\r\n\r\n\r\n"
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
            "damaged and something was lost (see the warnings)\r\n");
}

TEST(RunOptions, OutputFormsInAnyLetterCaseAndNoOther) {
  EXPECT_EQ(ParseRunOptions({"a.tps", "b.txt"}).Format, TOutputKind::Text);
  const struct {
    const char* arg;
    TOutputKind kind;
  } forms[] = {{"/format=jsonl", TOutputKind::JsonLines},
               {"/FORMAT=SQLite", TOutputKind::Sqlite},
               {"/Format=text", TOutputKind::Text},
               {"/format=Sql", TOutputKind::Sql}};
  for (const auto& f : forms)
    EXPECT_EQ(ParseRunOptions({"a.tps", "b.db", "/format=sqlite", f.arg}).Format, f.kind) << f.arg;
  for (const char* bad : {"/FORMAT=XML", "/FORMAT=", "/FORMAT=JSON"})
    EXPECT_THROW(ParseRunOptions({"a.tps", "b.txt", bad}), Exception) << bad;
  EXPECT_EQ(ParseRunOptions({"a.tps", "b.db", "/format=sqlite", "/blob=files"}).Blob,
            TBlobForm::Files);
  EXPECT_THROW(ParseRunOptions({"a.tps", "b.sql", "/format=sql", "/blob=files"}), Exception);
  // The typed outputs trim STRING padding unless /TRIM=0 is given.
  EXPECT_FALSE(ParseRunOptions({"a.tps", "b.db"}).TrimGiven);
  EXPECT_TRUE(ParseRunOptions({"a.tps", "b.db", "/trim=0"}).TrimGiven);
}

TEST(RunOptions, DamagedFileSwitches) {
  EXPECT_FALSE(Parse({}).Strict);
  EXPECT_TRUE(Parse({"/Strict"}).Strict);
  EXPECT_FALSE(Parse({"/STRICTLY"}).Strict);
  EXPECT_EQ(Parse({}).DefinitionsFile, "");
  // The file name as typed, case kept; not taken for the delimiter.
  const TRunOptions o = Parse({"/definitions=Old/Backup.TPS"});
  EXPECT_EQ(o.DefinitionsFile, "Old/Backup.TPS");
  EXPECT_EQ(o.Delimiter, "\t");
}

// The switches of text for other tools: /CSV sets several options at once, and a later
// switch overrides any of them.
TEST(RunOptions, TextForOtherTools) {
  const TRunOptions d = Parse({});
  EXPECT_EQ(d.CodePage, 1252u);
  EXPECT_FALSE(d.Utf8 || d.Bom || d.Trim || d.IsoValues || d.Csv);
  EXPECT_EQ(d.Qualify, TQualify::All);
  EXPECT_EQ(d.Blob, TBlobForm::Raw);

  const TRunOptions c = Parse({"/csv"});
  EXPECT_EQ(c.Delimiter, ",");
  EXPECT_EQ(c.Qualifier, "\"");
  EXPECT_EQ(c.RecordSeparator, "\r\n");
  EXPECT_TRUE(c.Header && c.Utf8 && c.IsoValues && c.Csv);
  EXPECT_FALSE(c.Bom || c.Trim || c.TypeLine);
  EXPECT_EQ(c.Qualify, TQualify::Needed);
  EXPECT_EQ(c.Blob, TBlobForm::Base64);

  const TRunOptions later =
      Parse({"/recordseparator=lf", "/CSV", "/delimiter=\\59", "/BLOB=files", "/qualify=all"});
  EXPECT_EQ(later.Delimiter, ";");
  EXPECT_EQ(later.RecordSeparator, "\r\n");  // /CSV overrides what came before it
  EXPECT_EQ(later.Blob, TBlobForm::Files);
  EXPECT_EQ(later.Qualify, TQualify::All);

  const TRunOptions o = Parse({"/UTF8", "/bom", "/codepage=CP866", "/blob=HEX", "/trim",
                               "/dates=InvDate;Due", "/TIMES=At"});
  EXPECT_TRUE(o.Utf8 && o.Bom && o.Trim);
  EXPECT_EQ(o.CodePage, 866u);
  EXPECT_EQ(o.Blob, TBlobForm::Hex);
  EXPECT_EQ(o.DateFields, "invdate;due;");
  EXPECT_EQ(o.TimeFields, "at;");
  EXPECT_FALSE(Parse({"/trim", "/TRIM=0"}).Trim);
  EXPECT_TRUE(Parse({"/TRIM=1"}).Trim);
  EXPECT_EQ(Parse({"/blob=omit"}).Blob, TBlobForm::Omit);
  EXPECT_EQ(Parse({"/blob=raw", "/blob=Base64"}).Blob, TBlobForm::Base64);
  EXPECT_EQ(Parse({"/codepage=utf-8"}).CodePage, 65001u);

  // Bad values and /CSV with /FIXED (in either order) end the run with a message naming
  // what was wrong.
  const struct {
    std::vector<std::string> args;
    const char* words;
  } bad[] = {
      {{"/codepage=1259"}, "1259"}, {{"/CODEPAGE=klingon"}, "klingon"},
      {{"/qualify=some"}, "some"},  {{"/blob=jpeg"}, "jpeg"},
      {{"/trim=yes"}, "yes"},       {{"/csv", "/fixed"}, "/FIXED"},
      {{"/FIXED", "/Csv"}, "/CSV"},
  };
  for (const auto& b : bad) {
    try {
      Parse(b.args);
      ADD_FAILURE() << b.words;
    } catch (const Exception& e) {
      EXPECT_NE(e.Message().find(b.words), std::string::npos) << e.Message();
    }
  }
}

TEST(RunOptions, OwnerPasswords) {
  EXPECT_FALSE(ParseRunOptions({"a.tps", "b.txt"}).Owner.has_value());
  // taken as typed: case kept, trailing blanks removed, leading ones kept
  EXPECT_EQ(ParseRunOptions({"a.tps", "b.txt", "/owner= Se cret  "}).Owner, " Se cret");
  EXPECT_EQ(ParseRunOptions({"a.tps", "b.txt", "/OWNER="}).Owner, "");
  setenv("VELTRO_TEST_OWNER", "p$&#word ", 1);
  EXPECT_EQ(ParseRunOptions({"a.tps", "b.txt", "/ownerenv=VELTRO_TEST_OWNER"}).Owner, "p$&#word");
  unsetenv("VELTRO_TEST_OWNER");
  try {
    ParseRunOptions({"a.tps", "b.txt", "/OWNERENV=VELTRO_TEST_OWNER"});
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(),
              "The environment variable VELTRO_TEST_OWNER named by /OWNERENV= is not set");
  }
}

TEST(RunOptions, FirstTwoArgumentsAreSwitchesOnlyWhenExact) {
  struct Case {
    std::string second;
    std::string target, targetSwitch;
    bool list;
  };
  const std::vector<Case> cases = {
      {"out.txt", "out.txt", "", false},
      {"/listings/out.txt", "/listings/out.txt", "", false},  // a path, not /LIST
      {"/hx", "/hx", "", false},
      {"/h", "", "/h", false},
      {"/List", "", "/List", true},
      {"/Where=A=1", "", "/Where=A=1", false},
      {"/group=", "", "/group=", false},
      {"-", "-", "", false},
  };
  for (const Case& c : cases) {
    const TRunOptions o = ParseRunOptions({"a.tps", c.second});
    EXPECT_EQ(o.Target, c.target) << c.second;
    EXPECT_EQ(o.TargetSwitch, c.targetSwitch) << c.second;
    EXPECT_EQ(o.ListOnly, c.list) << c.second;
  }
  // From the third argument on, the begins-with form of /LIST holds.
  EXPECT_TRUE(Parse({"/listings/out.txt"}).ListOnly);
  EXPECT_FALSE(ParseRunOptions({"/listings/a.tps", "b.txt"}).ListOnly);
}

TEST(RunOptions, MissingTarget) {
  const auto message = [](std::vector<std::string> args) {
    return MissingTargetMessage(ParseRunOptions(args));
  };
  EXPECT_EQ(message({"a.tps", "b.txt"}), "");
  EXPECT_EQ(message({"a.tps", "-"}), "");
  EXPECT_EQ(message({"a.tps", "/list"}), "");
  EXPECT_EQ(message({"a.tps", "--help", "/list"}), "");
  EXPECT_EQ(message({"a.tps", "/F"}), "No target file given: \"/F\" is a switch.");
  EXPECT_EQ(message({"a.tps", ""}), "No target file given.");
  EXPECT_NE(message({"a.tps", "-x"}), "");
}

TEST(RunOptions, WarningsForArgumentsThatAreNoSwitch) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/H", ""},
      {"/recordseparator=", ""},
      {"/RecordSeparator=Crlf", ""},
      {"/group=1", ""},
      {"/LISTALL", ""},
      {"/delimiter=anything", ""},
      {"/fiedls=a", "Warning: unknown switch \"/fiedls=a\" was ignored (did you mean /fields=?)."},
      {"/owner", "Warning: unknown switch \"/owner\" was ignored (did you mean /owner=?)."},
      {"--fixed", "Warning: unknown switch \"--fixed\" was ignored (did you mean /fixed?)."},
      {"/h=1", "Warning: unknown switch \"/h=1\" was ignored (did you mean /h?)."},
      {"/verbose", "Warning: unknown switch \"/verbose\" was ignored."},
      {"x.txt", "Warning: argument \"x.txt\" is no switch and was ignored."},
      {"/group=", "Warning: unknown value \"\" of /group= (it takes 0 or 1)."},
      {"/recordseparator=\\n",
       "Warning: unknown value \"\\n\" of /recordseparator= (it takes crlf, cr, lf or nothing)."},
  };
  for (const auto& [argument, warning] : cases) EXPECT_EQ(SwitchWarning(argument), warning);

  std::vector<std::string> warnings;
  ParseRunOptions({"/hedaer", "/x.txt", "/hedaer", "/group=2"}, &warnings);
  // The first two arguments are paths and raise no warning.
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[1], "Warning: unknown value \"2\" of /group= (it takes 0 or 1).");
}

TEST(RunOptions, EveryTableSwitchIsFoundAsItIsNamed) {
  for (const TSwitch& s : SwitchTable()) {
    std::string typed = LowerAscii(s.Name);
    if (s.Form == TSwitchForm::sfValue) typed += "=";
    EXPECT_EQ(FindSwitch(typed, true), &s) << s.Name;
    EXPECT_EQ(SwitchWarning(typed).find("unknown switch"), std::string::npos) << s.Name;
  }
  EXPECT_EQ(EditDistance("/DELIMTER=", "/DELIMITER="), 1u);
  EXPECT_EQ(EditDistance("", "/H"), 2u);
  EXPECT_EQ(EditDistance("KITTEN", "SITTING"), 3u);
}
