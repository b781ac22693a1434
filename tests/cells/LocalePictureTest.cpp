// Windows date and time pictures into the program's pattern letters, and the dates
// and times they then produce.
#include <gtest/gtest.h>

#include "cells/KvConvert.h"
#include "cells/KvLocalePicture.h"
#include "cells/KvSettings.h"

namespace {

struct Converted {
  std::string pattern;
  char separator;
  bool twelve;
};

Converted Convert(std::string_view picture, char placeholder) {
  Converted c{"", '?', false};
  c.pattern = ConvertLocalePicture(picture, placeholder, c.separator, c.twelve);
  return c;
}

TEST(LocalePicture, DatePictures) {
  Converted us = Convert("M/d/yyyy", '/');
  EXPECT_EQ(us.pattern, "m/d/yyyy");
  EXPECT_EQ(us.separator, '/');
  Converted de = Convert("dd.MM.yyyy", '/');
  EXPECT_EQ(de.pattern, "dd/mm/yyyy");
  EXPECT_EQ(de.separator, '.');
  Converted iso = Convert("yyyy-MM-dd", '/');
  EXPECT_EQ(iso.pattern, "yyyy/mm/dd");
  EXPECT_EQ(iso.separator, '-');
  // Two-digit years are widened; month names keep their form.
  EXPECT_EQ(Convert("dd/MM/yy", '/').pattern, "dd/mm/yyyy");
  EXPECT_EQ(Convert("d-MMM-y", '/').pattern, "d/mmm/yyyy");
  // Day names and eras are left out with what follows them.
  Converted named = Convert("dddd, MMMM d, yyyy", '/');
  EXPECT_EQ(named.pattern, "mmmm d, yyyy");
  EXPECT_EQ(named.separator, '?');
  EXPECT_EQ(Convert("gg yyyy/MM/dd", '/').pattern, "yyyy/mm/dd");
}

TEST(LocalePicture, QuotedTextAndOtherSeparators) {
  // Letters of quoted text are quoted for FormatDateTime; '' is one quote.
  EXPECT_EQ(Convert("yyyy'年'M'月'd'日'", '/').pattern, "yyyy年m月d日");
  EXPECT_EQ(Convert("dd.MM.yyyy' г.'", '/').pattern, "dd/mm/yyyy г.");
  EXPECT_EQ(Convert("d 'de' MMMM", '/').pattern, "d \"de\" mmmm");
  EXPECT_EQ(Convert("h 'o''clock'", ':').pattern, "h \"o'clock\"");
  // Only the first separator stands for the locale's; another one stays literal,
  // quoted when it is one of the program's own marks.
  Converted mixed = Convert("yyyy.MM.dd/HH", '/');
  EXPECT_EQ(mixed.separator, '.');
  EXPECT_EQ(mixed.pattern, "yyyy/mm/dd\"/\"hh");
}

TEST(LocalePicture, TimePictures) {
  Converted us = Convert("h:mm:ss tt", ':');
  EXPECT_EQ(us.pattern, "h:nn:ss ampm");
  EXPECT_TRUE(us.twelve);
  EXPECT_EQ(us.separator, ':');
  Converted de = Convert("HH:mm:ss", ':');
  EXPECT_EQ(de.pattern, "hh:nn:ss");
  EXPECT_FALSE(de.twelve);
  Converted fi = Convert("H.mm.ss", ':');
  EXPECT_EQ(fi.pattern, "h:nn:ss");
  EXPECT_EQ(fi.separator, '.');
  EXPECT_EQ(Convert("tt hh:mm", ':').pattern, "ampm hh:nn");
}

TEST(LocalePicture, ConvertedPatternsFormatValues) {
  FormatSettings fs = FormatSettings::Iso();
  char sep = '?';
  bool twelve = false;
  fs.ShortDateFormat = ConvertLocalePicture("dd.MM.yyyy", '/', sep, twelve);
  fs.DateSeparator = sep;
  fs.LongTimeFormat = ConvertLocalePicture("h:mm:ss tt", ':', fs.TimeSeparator, twelve);
  const TDateTime dt = EncodeDate(2019, 8, 2) + EncodeTime(15, 4, 5, 0);
  EXPECT_EQ(FormatDateTime(fs.ShortDateFormat, dt, fs), "02.08.2019");
  EXPECT_EQ(FormatDateTime(fs.LongTimeFormat, dt, fs), "3:04:05 PM");
  EXPECT_EQ(FormatDateTime(ConvertLocalePicture("d 'de' MMMM", '/', sep, twelve), dt, fs),
            "2 de August");
}

}  // namespace
