// /SCHEMA on the real sample files: the whole listing of each file compared with a
// text written from the file's known layout.
#include <gtest/gtest.h>

#include <cstdlib>

#include "TestSupport.h"
#include "tpswriter/TpsWriter.h"

namespace {

struct TSchemaCase {
  const char* file;
  std::vector<std::string> switches;
  const char* expected;  // lines ended by LF here; the program ends them by CR LF
};

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

const TSchemaCase kSchemaCases[] = {
    {"table.tps", {}, R"(Table 1 UNNAMED: 1 row
  #  Field  Type   Size  Digits  Decimals  Elements  Offset
  1  OUDNR  SHORT     2                                   0
  2  NEWNR  SHORT     2                                   2
  Key     Duplicates  Primary  Flags  Fields
  KEYOUD  yes         no       0x07   OUDNR
  KEYNEW  yes         no       0x07   NEWNR
)"},
    {"table-with-time.TPS", {}, R"(Table 1 UNNAMED: 1 row
  #  Field     Type  Size  Digits  Decimals  Elements  Offset
  1  ClockIn   TIME     4                                   0
  2  ClockOut  TIME     4                                   4
  No keys
)"},
    {"table-with-memos.tps", {}, R"(Table 1 UNNAMED: 4 rows
  #  Field            Type    Size  Digits  Decimals  Elements  Offset
  1  Name             STRING    64                                   0
  2  Date             DATE       4                                  64
  3  AdditionalNotes  MEMO    2048
  4  Notes            MEMO    1024
  No keys
)"},
    // Group members are indented under their group; arrays give their element count.
    {"array-of-groups.TPS", {}, R"(Table 1 UNNAMED: 1 row
  #  Field         Type    Size  Digits  Decimals  Elements  Offset
  1  A             STRING    20                                   0
  2  BArray        STRING   120                           6      20
  3  CArray2_3     LONG      24                           6     140
  4  DGroup        GROUP     24                                 164
  5    DSubA       LONG       4                                 164
  6    DSubB       STRING    20                                 168
  7  EGroupArray   GROUP    248                           2     188
  8    ESubAArray  STRING   120                           6     188
  9    ESubB       LONG       4                                 308
  No keys
)"},
    {"not-encrypted.tps", {}, R"(Table 1 UNNAMED: 17 rows
  #  Field       Type    Size  Digits  Decimals  Elements  Offset
  1  DATUM       LONG       4                                   0
  2  TIJD        TIME       4                                   4
  3  WERKNMR     LONG       4                                   8
  4  SRTRAPPORT  STRING     1                                  12
  No keys
)"},
    {"encrypted-a.tps", {"/owner=a"}, R"(Table 2 UNNAMED: 17 rows
  #  Field       Type    Size  Digits  Decimals  Elements  Offset
  1  DATUM       LONG       4                                   0
  2  TIJD        TIME       4                                   4
  3  WERKNMR     LONG       4                                   8
  4  SRTRAPPORT  STRING     1                                  12
  No keys
)"},
    {"header.dat", {}, ""},
    {"Vendors.tps", {"/table=UNNAMED"}, R"(Table 1 UNNAMED: 22 rows
  #  Field         Type     Size  Digits  Decimals  Elements  Offset
  1  VENDORNUMBER  LONG        4                                   0
  2  VENDORNAME    STRING     35                                   4
  3  ADDRESS1      STRING     35                                  39
  4  ADDRESS2      STRING     35                                  74
  5  CITY          STRING     25                                 109
  6  STATE         STRING      2                                 134
  7  ZIPCODE       STRING     10                                 136
  8  PHONENUMBER   DECIMAL     6      11         0               146
  Key              Duplicates  Primary  Flags  Fields
  KEYVENDORNUMBER  no          yes      0x12   VENDORNUMBER
  KEYVENDORNAME    yes         no       0x03   VENDORNAME
)"},
    {"INVHIST.TPS", {}, R"(Table 1 UNNAMED: 2118 rows
  #  Field          Type     Size  Digits  Decimals  Elements  Offset
  1  DATE           LONG        4                                   0
  2  TYPE           STRING      7                                   4
  3  PRODUCTNUMBER  LONG        4                                  11
  4  QUANTITY       DECIMAL     4       7         2                15
  5  VENDORNUMBER   LONG        4                                  19
  6  COST           DECIMAL     4       7         2                23
  7  NOTES          STRING     50                                  27
  Key                         Duplicates  Primary  Flags  Fields
  KEYPRODUCTNUMBERVENDORDATE  yes         no       0x03   PRODUCTNUMBER, VENDORNUMBER, DATE
  KEYPRODNUMBERDATE           yes         no       0x03   PRODUCTNUMBER, DATE
  KEYVENDORNUMBERDATE         yes         no       0x03   VENDORNUMBER, DATE
)"},
    {"Products.tps", {}, R"(Table 1 UNNAMED: 31 rows
   #  Field            Type      Size  Digits  Decimals  Elements  Offset
   1  PRODUCTNUMBER    LONG         4                                   0
   2  PRODUCTSKU       STRING      10                                   4
   3  DESCRIPTION      STRING      35                                  14
   4  PRICE            DECIMAL      4       7         2                49
   5  QUANTITYINSTOCK  DECIMAL      4       7         2                53
   6  REORDERQUANTITY  DECIMAL      4       7         2                57
   7  COST             DECIMAL      4       7         2                61
   8  PICTUREFILE      STRING      64                                  65
   9  WEBLINK          STRING     255                                 129
  10  RTFDESCRIPTION   MEMO     64000
  11  IMAGEBLOB        BLOB         0
  Key               Duplicates  Primary  Flags  Fields
  KEYPRODUCTNUMBER  no          yes      0x12   PRODUCTNUMBER
  KEYPRODUCTSKU     no          no       0x02   PRODUCTSKU
  KEYDESCRIPTION    yes         no       0x03   DESCRIPTION
)"},
    {"Zipcodes.tps", {}, R"(Table 1 UNNAMED: 3834 rows
  #  Field  Type    Size  Digits  Decimals  Elements  Offset
  1  ZIP    STRING    10                                   0
  2  CITY   STRING    25                                  10
  3  STATE  STRING     2                                  35
  Key         Duplicates  Primary  Flags  Fields
  KEYZIPCODE  no          yes      0x12   ZIP
  KEYZIPCITY  yes         no       0x03   CITY
  KEYSTATE    yes         no       0x03   STATE, CITY
)"},
};

class SchemaOfSample : public ::testing::TestWithParam<TSchemaCase> {};

}  // namespace

TEST_P(SchemaOfSample, ListsTheKnownLayout) {
  const std::string samples = SamplesDir();
  if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent";
  const TSchemaCase& c = GetParam();
  TempDir dir;
  std::vector<std::string> args{VeltroBinary(), samples + "/" + c.file, "/schema"};
  args.insert(args.end(), c.switches.begin(), c.switches.end());
  const ProcessResult r = RunProcess(args, dir.Path());
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out, WithCrLf(c.expected));
  // header.dat is the header of a longer file alone: it is said to be cut short.
  EXPECT_EQ(r.err, c.file == std::string("header.dat")
                       ? "Warning: the file is 512 bytes but its header says 383,744: it has "
                         "been cut short.\r\n"
                       : "");
}

INSTANTIATE_TEST_SUITE_P(Samples, SchemaOfSample, ::testing::ValuesIn(kSchemaCases),
                         [](const ::testing::TestParamInfo<TSchemaCase>& info) {
                           std::string name = info.param.file;
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

TEST(Schema, EveryTableOfAWrittenFileAndAMissingTable) {
  TempDir dir;
  tpsw::Table a, b;
  a.number = 1;
  a.name = "CUSTOMER";
  a.fields = {tpsw::Field{tpsw::kLong, "CUS:ID", 0, 4},
              tpsw::Field{tpsw::kString, "CUS:NAME", 4, 12},
              tpsw::Field{tpsw::kDecimal, "CUS:BALANCE", 16, 5, 1, 2}};
  // Key components name fields by their index, counted from 0 as in real files.
  for (int i = 0; i < 3; ++i) a.fields[i].index = i;
  a.keys = {tpsw::Key{"CUS:BYNAME", {tpsw::KeyPart{1}, tpsw::KeyPart{0}}}};
  a.keys[0].flags = 0x03;
  b.number = 4;
  b.name = "ORDERS";
  b.fields = {tpsw::Field{tpsw::kShort, "ORD:NO", 0, 2}};
  b.memos = {tpsw::Memo{"ORD:PHOTO"}};
  b.memos[0].blob = true;
  // A component naming a field the definition does not have shows its number.
  b.keys = {tpsw::Key{"ORD:ODD", {tpsw::KeyPart{7}}}};
  {
    tpsw::Writer w(dir.File("shop.tps"));
    w.AddTable(a);
    w.AddTable(b);
    tpsw::AddTextRows(w, a, {{"1", "Smith", "1.50"}});
    w.Finish();
  }
  ProcessResult r = RunProcess({VeltroBinary(), dir.File("shop.tps"), "/SCHEMA"}, dir.Path());
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out, WithCrLf(R"(Table 1 CUSTOMER: 1 row
  #  Field    Type     Size  Digits  Decimals  Elements  Offset
  1  ID       LONG        4                                   0
  2  NAME     STRING     12                                   4
  3  BALANCE  DECIMAL     5       9         2                16
  Key     Duplicates  Primary  Flags  Fields
  BYNAME  yes         no       0x03   NAME, ID

Table 4 ORDERS: 0 rows
  #  Field  Type   Size  Digits  Decimals  Elements  Offset
  1  NO     SHORT     2                                   0
  2  PHOTO  BLOB      0
  Key  Duplicates  Primary  Flags  Fields
  ODD  no          no       0x00   #7
)"));

  r = RunProcess({VeltroBinary(), dir.File("shop.tps"), "/schema", "/table=NONE"}, dir.Path());
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "Table name: NONE not found in TPS file.\r\n");
}
