// The Windows side of the platform layer: the process command line, paths with
// drives and backslashes, file sharing, and output files.
#include <gtest/gtest.h>
#include <windows.h>

#include "TestSupport.h"
#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
#include "cells/KvFileWriter.h"
#include "cells/KvSettings.h"
#include "cells/KvSettingsWin.h"
#include "cells/KvStream.h"
#include "front/CmdLineHelper.h"
#include "front/OutputPaths.h"
#include "front/PathNames.h"

namespace {

TEST(WindowsPlatform, ProcessCommandLine) {
  // The arguments are the raw command line split by the program's own rules.
  const std::string raw = GetCommandLineA();
  const std::vector<std::string> tokens = SplitCmdLine(raw);
  ASSERT_FALSE(tokens.empty());
  EXPECT_EQ(CmdLineParamCount(), int(tokens.size()) - 1);
  for (int i = 1; i < int(tokens.size()); ++i) EXPECT_EQ(CmdLineParamStr(i), tokens[i]);
  EXPECT_EQ(CmdLineParamStr(int(tokens.size())), "");
  // Argument 0 is the full path of the program file, not the token typed.
  const std::string self = CmdLineParamStr(0);
  EXPECT_EQ(self, ProgramFilePath());
  ASSERT_GT(self.size(), 3u);
  EXPECT_EQ(self.substr(1, 2), ":\\") << self;
  EXPECT_EQ(self.substr(self.size() - 4), ".exe") << self;
  EXPECT_TRUE(FileExists(self));
}

TEST(WindowsPlatform, OutputNamesCutAtBackslashAndDrive) {
  EXPECT_EQ(FileNamePartStart(R"(C:\out\data.txt)"), 7u);
  EXPECT_EQ(FileNamePartStart("C:data.txt"), 2u);
  EXPECT_EQ(FileNamePartStart("out/data.txt"), 4u);
  EXPECT_EQ(OutputPathFor(R"(C:\out\data.txt)", "ORDERS"), R"(C:\out\data.ORDERS.txt)");
  // A dot in a directory name is not the extension.
  EXPECT_EQ(OutputPathFor(R"(C:\my.dir\data)", "ORDERS"), R"(C:\my.dir\data.ORDERS)");
  EXPECT_EQ(OutputPathFor("C:data", "T"), "C:data.T");
  EXPECT_EQ(InsertBeforeExtension(R"(D:\x.d\data)", "2"), R"(D:\x.d\data.2)");
  // Table names cannot reach another directory or drive.
  EXPECT_EQ(OutputPathFor(R"(C:\out\o.txt)", R"(..\C:x)"), R"(C:\out\o..._C_x.txt)");
}

TEST(WindowsPlatform, SourceIsReadWhileOthersWriteIt) {
  TempDir dir;
  const std::string path = dir.File("busy.tps");
  // Another program holds the file open for writing, sharing reads and writes.
  HANDLE other =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(other, "0123456789", 10, &written, nullptr));
  {
    TFileStream in(path);
    EXPECT_EQ(in.Size(), 10);
    const auto view = in.View();
    EXPECT_EQ(std::string(view.begin(), view.end()), "0123456789");
    char buf[4] = {};
    in.Seek(6);
    EXPECT_EQ(in.Read(buf, 4), 4u);
    EXPECT_EQ(std::string(buf, 4), "6789");
    EXPECT_EQ(in.Read(buf, 4), 0u);
    // The writer may go on writing while the file is open here.
    EXPECT_TRUE(WriteFile(other, "ab", 2, &written, nullptr));
  }
  CloseHandle(other);
  EXPECT_TRUE(FileExists(path));
  EXPECT_FALSE(FileExists(dir.Path()));
  EXPECT_THROW(TFileStream(dir.Path()), EFOpenError);
  EXPECT_THROW(TFileStream(dir.File("missing.tps")), EFOpenError);
}

TEST(WindowsPlatform, OutputFilesAreTruncatedAndWrittenAsBytes) {
  TempDir dir;
  const std::string path = dir.File("out.txt");
  WriteFileText(path, "old content that is longer\r\n");
  {
    TBufferedFileWriter out(path, 8);
    out.Write("a\r\nb\n");
    out.Write("0123456789");
    out.Close();
  }
  // No CR added before LF, nothing left of the old content.
  EXPECT_EQ(ReadFileText(path), "a\r\nb\n0123456789");
  EXPECT_THROW(TBufferedFileWriter(dir.File("no\\such\\dir\\x.txt")), EFCreateError);
}

TEST(WindowsPlatform, RegionalSettingsOfLocales) {
  const TDateTime afternoon = EncodeDate(2019, 8, 2) + EncodeTime(15, 4, 5, 0);
  // German (Germany): day first with dots, 24-hour clock, decimal comma.
  const FormatSettings de = ReadLocaleSettings(MAKELCID(0x0407, SORT_DEFAULT), false);
  EXPECT_EQ(de.DecimalSeparator, ',');
  EXPECT_EQ(de.ThousandSeparator, '.');
  EXPECT_EQ(de.DateSeparator, '.');
  // Windows has dd.MM.yyyy, Wine d.M.yyyy.
  const std::string deDate = FormatDateTime(de.ShortDateFormat, afternoon, de);
  EXPECT_TRUE(deDate == "02.08.2019" || deDate == "2.8.2019") << deDate;
  EXPECT_EQ(FormatDateTime(de.LongTimeFormat, afternoon, de), "15:04:05");
  EXPECT_EQ(FormatFloatG(1234.5, 15, de), "1234,5");
  EXPECT_EQ(de.LongMonthNames[0], "Januar");
  // English (United States): month first, 12-hour clock with designators.
  const FormatSettings us = ReadLocaleSettings(MAKELCID(0x0409, SORT_DEFAULT), false);
  EXPECT_EQ(us.ShortDateFormat, "m/d/yyyy");
  EXPECT_EQ(us.DateSeparator, '/');
  EXPECT_EQ(us.CurrencyString, "$");
  EXPECT_EQ(FormatDateTime(us.ShortDateFormat, afternoon, us), "8/2/2019");
  EXPECT_EQ(FormatDateTime(us.LongTimeFormat, afternoon, us), "3:04:05 PM");
  EXPECT_EQ(us.ShortMonthNames[7], "Aug");
  // The user's locale, overrides included, is what the program reads at start.
  const FormatSettings user = ReadSystemSettings();
  const FormatSettings direct = ReadLocaleSettings(LOCALE_USER_DEFAULT, true);
  EXPECT_EQ(user.ShortDateFormat, direct.ShortDateFormat);
  EXPECT_EQ(user.LongTimeFormat, direct.LongTimeFormat);
  EXPECT_EQ(user.DecimalSeparator, direct.DecimalSeparator);
}

}  // namespace
