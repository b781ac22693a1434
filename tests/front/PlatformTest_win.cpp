// The Windows side of the platform layer: the process command line, paths with
// drives and backslashes, file sharing, and output files.
#include <gtest/gtest.h>
#include <windows.h>

#include "TestSupport.h"
#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "cells/KvStream.h"
#include "front/CmdLineHelper.h"
#include "front/PathNames.h"
#include "front/TextExport.h"

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

// Sets items of the user's regional settings and restores them on destruction.
class ScopedLocaleItems {
 public:
  ScopedLocaleItems(std::initializer_list<std::pair<LCTYPE, const char*>> items) {
    for (const auto& [type, value] : items) {
      char old[128] = {};
      GetLocaleInfoA(LOCALE_USER_DEFAULT, type, old, int(sizeof old));
      saved_.push_back({type, old});
      EXPECT_TRUE(SetLocaleInfoA(LOCALE_USER_DEFAULT, type, value)) << type;
    }
  }
  ~ScopedLocaleItems() {
    for (const auto& [type, value] : saved_)
      SetLocaleInfoA(LOCALE_USER_DEFAULT, type, value.c_str());
  }

 private:
  std::vector<std::pair<LCTYPE, std::string>> saved_;
};

TEST(WindowsPlatform, RegionalSettingsOfTheUser) {
  const TDateTime afternoon = EncodeDate(2019, 8, 2) + EncodeTime(15, 4, 5, 0);
  const FormatSettings before = ReadSystemSettings();
  {
    ScopedLocaleItems german({{LOCALE_SDECIMAL, ","},
                              {LOCALE_STHOUSAND, "."},
                              {LOCALE_SCURRENCY, "EUR"},
                              {LOCALE_SDATE, "."},
                              {LOCALE_SSHORTDATE, "dd.MM.yyyy"},
                              {LOCALE_STIME, ":"},
                              {LOCALE_STIMEFORMAT, "h:mm:ss tt"},
                              {LOCALE_S1159, "vm"},
                              {LOCALE_S2359, "nm"}});
    const FormatSettings fs = ReadSystemSettings();
    EXPECT_EQ(fs.DecimalSeparator, ',');
    EXPECT_EQ(fs.ThousandSeparator, '.');
    EXPECT_EQ(fs.CurrencyString, "EUR");
    EXPECT_EQ(fs.ShortDateFormat, "dd/mm/yyyy");
    EXPECT_EQ(fs.DateSeparator, '.');
    EXPECT_EQ(fs.LongTimeFormat, "h:nn:ss ampm");
    EXPECT_EQ(FormatDateTime(fs.ShortDateFormat, afternoon, fs), "02.08.2019");
    EXPECT_EQ(FormatDateTime(fs.LongTimeFormat, afternoon, fs), "3:04:05 nm");
    EXPECT_EQ(FormatFloatG(1234.5, 15, fs), "1234,5");
  }
  {
    // A short date form without day or year cannot be used: the ISO form stays, with
    // its separator.
    ScopedLocaleItems odd({{LOCALE_SDATE, "/"}, {LOCALE_SSHORTDATE, "MMMM"}});
    const FormatSettings fs = ReadSystemSettings();
    EXPECT_EQ(fs.ShortDateFormat, "yyyy/mm/dd");
    EXPECT_EQ(fs.DateSeparator, '-');
  }
  // The user's own settings are back.
  const FormatSettings after = ReadSystemSettings();
  EXPECT_EQ(after.ShortDateFormat, before.ShortDateFormat);
  EXPECT_EQ(after.LongTimeFormat, before.LongTimeFormat);
  EXPECT_EQ(after.DecimalSeparator, before.DecimalSeparator);
}

}  // namespace
