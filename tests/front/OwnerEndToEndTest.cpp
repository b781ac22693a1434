// End-to-end tests of encrypted files: /OWNER= and /OWNERENV=.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "TestSupport.h"
#include "tpswriter/TpsWriter.h"

namespace {

const std::string kSignature =
    "File signature is not correct. Possible bad file or custom algorithm used to "
    "encypt/compress this file.\r\n";

// A file of two tables (one with a memo), plain or encrypted with an owner.
void WriteFile(const std::string& path, const std::string& owner) {
  tpsw::Options opt;
  opt.owner = owner;
  opt.pagesPerBlock = 3;
  tpsw::Writer w(path, opt);
  tpsw::Table a;
  a.number = 1;
  a.name = "ITEMS";
  a.fields = {tpsw::Field{tpsw::kLong, "I:ID", 0, 4}, tpsw::Field{tpsw::kString, "I:NAME", 4, 10}};
  a.memos = {tpsw::Memo{"I:NOTE"}};
  tpsw::Table b;
  b.number = 2;
  b.name = "PRICES";
  b.fields = {tpsw::Field{tpsw::kDecimal, "P:PRICE", 0, 5, 1, 2}};
  w.AddTable(a);
  w.AddTable(b);
  for (int i = 1; i <= 200; ++i) {
    tpsw::Payload p(a.RecordLength());
    p.PutLong(0, i).PutString(4, 10, "item" + std::to_string(i));
    w.AddRow(1, std::uint32_t(i), p, {{0, "note " + std::to_string(i * 7)}});
    tpsw::Payload q(b.RecordLength());
    q.PutDecimal(0, 5, 2, std::to_string(i) + ".25");
    w.AddRow(2, std::uint32_t(i), q, {});
  }
  w.Finish();
}

class OwnerRun : public ::testing::Test {
 protected:
  void SetUp() override { setenv("LC_ALL", "C", 1); }
  ProcessResult Veltro(std::vector<std::string> args) {
    args.insert(args.begin(), VeltroBinary());
    return RunProcess(args, dir.Path());
  }
  // Everything after the report's first line.
  static std::string AfterFirstLine(const std::string& out) {
    std::size_t eol = out.find("\r\n");
    return eol == std::string::npos ? "" : out.substr(eol + 2);
  }
  TempDir dir;
};

TEST_F(OwnerRun, EncryptedFileConvertsLikeItsPlainTwin) {
  WriteFile(dir.File("plain.tps"), "");
  WriteFile(dir.File("secret.tps"), "Pa$$ &#1");
  ProcessResult r = Veltro({"plain.tps", "p.txt", "/h"});
  ASSERT_EQ(r.exitCode, 0) << r.out;
  const std::string items = ReadFileText(dir.File("p.ITEMS.txt"));
  const std::string prices = ReadFileText(dir.File("p.PRICES.txt"));
  EXPECT_NE(items.find("200\titem200   \tnote 1400\r\n"), std::string::npos)
      << items.substr(items.size() - 80);

  r = Veltro({"secret.tps", "s.txt", "/h", "/owner=Pa$$ &#1  "});
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(ReadFileText(dir.File("s.ITEMS.txt")), items);
  EXPECT_EQ(ReadFileText(dir.File("s.PRICES.txt")), prices);

  setenv("VELTRO_E2E_OWNER", "Pa$$ &#1", 1);
  r = Veltro({"secret.tps", "e.txt", "/h", "/ownerenv=VELTRO_E2E_OWNER"});
  unsetenv("VELTRO_E2E_OWNER");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(ReadFileText(dir.File("e.ITEMS.txt")), items);

  // a plain file given an owner converts as without one
  r = Veltro({"plain.tps", "q.txt", "/h", "/owner=anything"});
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(ReadFileText(dir.File("q.ITEMS.txt")), items);
}

TEST_F(OwnerRun, MissingOrWrongOwnerIsReported) {
  WriteFile(dir.File("secret.tps"), "Pa$$ &#1");
  ProcessResult r = Veltro({"secret.tps", "s.txt"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out.rfind("Exception EKvIFileFormatException in module ", 0), 0u) << r.out;
  EXPECT_EQ(AfterFirstLine(r.out),
            kSignature + "The file may be encrypted: give its owner password with /OWNER=.\r\n");

  r = Veltro({"secret.tps", "s.txt", "/owner=pa$$ &#1"});  // case matters
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(AfterFirstLine(r.out), kSignature + "The owner password does not open this file.\r\n");
  EXPECT_FALSE(PathExists(dir.File("s.ITEMS.txt")));

  unsetenv("VELTRO_E2E_MISSING");
  r = Veltro({"secret.tps", "s.txt", "/ownerenv=VELTRO_E2E_MISSING"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(AfterFirstLine(r.out),
            "The environment variable VELTRO_E2E_MISSING named by /OWNERENV= is not set.\r\n");
}

TEST_F(OwnerRun, EncryptedSampleGivesThePlainSamplesOutput) {
  const std::string samples = SamplesDir();
  if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent";
  ProcessResult r = Veltro({samples + "/not-encrypted.tps", "plain.txt", "/h", "/f"});
  ASSERT_EQ(r.exitCode, 0) << r.out;
  r = Veltro({samples + "/encrypted-a.tps", "enc.txt", "/h", "/f", "/OWNER=a"});
  ASSERT_EQ(r.exitCode, 0) << r.out;
  const std::string plain = ReadFileText(dir.File("plain.txt"));
  EXPECT_EQ(std::count(plain.begin(), plain.end(), '\n'), 19);  // header, types, 17 rows
  EXPECT_EQ(ReadFileText(dir.File("enc.txt")), plain);

  r = Veltro({samples + "/encrypted-a.tps", "enc2.txt"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(AfterFirstLine(r.out),
            kSignature + "The file may be encrypted: give its owner password with /OWNER=.\r\n");
  r = Veltro({samples + "/encrypted-a.tps", "enc2.txt", "/owner=b"});
  EXPECT_EQ(AfterFirstLine(r.out), kSignature + "The owner password does not open this file.\r\n");
}

}  // namespace
