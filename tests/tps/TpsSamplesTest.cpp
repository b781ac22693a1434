// Interop: the real files in ../shared/samples.
#include <gtest/gtest.h>

#include <cmath>

#include "TestSupport.h"
#include "tps/KvTPS.h"
#include "tps/TpsTestUtil.h"

using tpstest::FieldNames;
using tpstest::Sheet;
using tpstest::Text;

namespace {

std::unique_ptr<TClarionTPS> LoadSample(const std::string& name) {
  auto r = std::make_unique<TClarionTPS>();
  r->LoadFromFile(SamplesDir() + "/" + name);
  return r;
}

#define REQUIRE_SAMPLES() \
  if (SamplesDir().empty()) GTEST_SKIP() << "no sample files"

}  // namespace

TEST(TpsSamples, SmallTablesNamesKeysAndTime) {
  REQUIRE_SAMPLES();
  auto r = LoadSample("table.tps");
  ASSERT_EQ(r->Sheets().Count(), 1);
  auto& t = Sheet(*r, 0);
  EXPECT_EQ(t.Caption, "UNNAMED");
  EXPECT_EQ(FieldNames(t), (std::vector<std::string>{"OUDNR", "NEWNR"}));
  ASSERT_EQ(t.Keys.size(), 2u);
  EXPECT_EQ(t.Keys[0].Name, "CON1:KEYOUD");
  EXPECT_EQ(t.Keys[1].Name, "CON1:KEYNEW");
  EXPECT_EQ(t.Cells.RowCount, 1);
  EXPECT_EQ(Text(t, 0, 0), "1");
  EXPECT_EQ(Text(t, 1, 0), "1");

  auto tt = LoadSample("table-with-time.TPS");
  auto& s = Sheet(*tt, 0);
  EXPECT_EQ(TpsTypeName(s.Fields[0].Type), std::string("Time"));
  EXPECT_EQ(Text(s, 0, 0), "06:23:15");
  EXPECT_EQ(Text(s, 1, 0), "12:59:59");
}
