#include <gtest/gtest.h>

#include "cells/KvExceptions.h"
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
            "Damaged files: /strict (the first damage ends the run) or /definitions=<file.tps> "
            "(definitions from another file of the application)\r\n"
            "Exit codes: 0 done, 1 failed, 2 file or table not found, 3 written but the file is "
            "damaged and something was lost (see the warnings)\r\n");
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
