// The writer's date and time texts: each one is the value's own text form, also when
// values repeat, differ only in milliseconds, or carry a day and a time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "cells/KvCells.h"
#include "cells/KvFileWriter.h"
#include "cells/KvSettings.h"
#include "front/WriteTextSupport.h"

namespace {

std::vector<double> Values() {
  std::vector<double> v;
  std::uint64_t s = 7;
  auto next = [&] {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 2685821657736338717ULL;
  };
  for (int i = 0; i < 6000; ++i) {
    const double ms = double(next() % 86400000) / 86400000.0;
    switch (i % 6) {
      case 0:
        v.push_back(ms);  // a time of day alone
        break;
      case 1:
        v.push_back(double(next() % 1000) / 86400.0);  // whole seconds, repeating
        break;
      case 2:
        v.push_back(double(30000 + next() % 20000));  // a day
        break;
      case 3:
        v.push_back(double(30000 + next() % 20) + ms);  // a day and a time
        break;
      case 4:
        v.push_back(-double(next() % 700000) - ms);  // before 1899-12-30
        break;
      default:
        v.push_back(v[std::size_t(i) - 5] + 1e-9 * double(i % 3));  // nearly the same
        break;
    }
  }
  return v;
}

TEST(WriterDateText, EveryValueWrittenAsItsTextForm) {
  const std::vector<double> values = Values();
  TSpreadSheetCells cells;
  for (std::size_t i = 0; i < values.size(); ++i)
    cells.SetCell(0, std::int32_t(i), Variant::Date(values[i]), taLeftJustify, 0, ictDate);
  FormatSettings withMs = FormatSettings::Iso();
  withMs.LongTimeFormat = "hh:nn:ss.zzz";
  FormatSettings twelve = FormatSettings::UnitedStates();
  FormatSettings dashes = FormatSettings::Iso();
  dashes.ShortDateFormat = "yyyy-mm-dd";  // the dashes are literal, not the separator
  dashes.DateSeparator = '.';
  dashes.TimeSeparator = '.';
  for (const FormatSettings& fs : {FormatSettings::Iso(), withMs, twelve, dashes}) {
    SCOPED_TRACE(fs.LongTimeFormat);
    TempDir dir;
    const std::string path = dir.File("dates.txt");
    TBufferedFileWriter out(path);
    TRunOptions format;
    format.RecordSeparator = "\n";
    WriteText(out, cells, TestSchema({{tpsDate, "D", 4}}), format, fs);
    out.Close();
    std::string want;
    for (double v : values) want += TextOf(Variant::Date(v), fs) + "\n";
    EXPECT_EQ(ReadFileText(path), want);
  }
}

}  // namespace
