#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "TestSupport.h"
#include "TpsTestUtil.h"
#include "cells/KvExceptions.h"
#include "tps/KvTPSContainer.h"
#include "tps/KvTPSOwner.h"
#include "tpswriter/TpsWriter.h"

namespace {

std::vector<std::uint8_t> Hex(const char* text) {
  std::vector<std::uint8_t> out;
  unsigned v;
  int n;
  while (std::sscanf(text, " %2x%n", &v, &n) == 1) {
    out.push_back(std::uint8_t(v));
    text += n;
  }
  return out;
}

TEST(OwnerKey, DerivationMatchesTheKnownVectors) {
  TTPSOwnerKey k = OwnerKeySeed("a");
  EXPECT_EQ(k[0], 0x74229200u);
  EXPECT_EQ(k[1], 0x78269604u);
  EXPECT_EQ(k[2], 0x7C2A9A08u);
  EXPECT_EQ(k[3], 0x802E9E0Cu);
  EXPECT_EQ(k[15], 0x701E8E3Cu);
  MixOwnerKey(k);
  EXPECT_EQ(k[0], 0x14A29220u);
  EXPECT_EQ(k[1], 0x745D8C18u);
  EXPECT_EQ(k[2], 0x78559430u);
  EXPECT_EQ(k[3], 0x646D3C48u);
  MixOwnerKey(k);
  EXPECT_EQ(k[0], 0x7052A480u);
  EXPECT_EQ(k[1], 0x68DD1890u);
  EXPECT_EQ(k[2], 0xF1AB48A0u);
  EXPECT_EQ(k[3], 0x48DCF8A0u);
  EXPECT_EQ(MakeOwnerKey("a"), k);
}

TEST(OwnerKey, BlockDecryptionMatchesTheKnownVector) {
  auto cipher =
      Hex("BC DC 5C 92 90 BC DF B8 B0 5B AF BB A5 F8 30 C5 05 AE FF D0 F0 BF F7 C2 E0 DC FC 57 F7 "
          "BF FB "
          "93 A8 54 DA C0 70 6D AD AA 30 E9 BD FA D0 7A FD D4 DD FF FE E1 50 F9 FE C1 E0 D3 77 E3 "
          "F5 7A "
          "BF F1");
  auto plain =
      Hex("00 00 00 00 00 02 00 C2 05 00 00 C2 05 00 74 4F 70 53 00 00 00 00 1A 25 07 00 00 00 05 "
          "00 00 "
          "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 05 00 00 00 "
          "0C 00 "
          "00 00");
  ASSERT_EQ(cipher.size(), 64u);
  auto data = cipher;
  TTPSOwnerKey key = MakeOwnerKey("a");
  DecryptOwnerBytes(key, data);
  EXPECT_EQ(data, plain);
  EncryptOwnerBytes(key, data);
  EXPECT_EQ(data, cipher);
}

TEST(OwnerKey, EncryptionRoundTripsForManyPasswords) {
  std::vector<std::uint8_t> data(640);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = std::uint8_t(i * 7 + 3);
  for (const char* pw : {"", "a", "Secret$&#",
                         "a much longer owner password than sixty-four "
                         "characters, which wraps around the key array"}) {
    auto copy = data;
    TTPSOwnerKey key = MakeOwnerKey(pw);
    EncryptOwnerBytes(key, copy);
    EXPECT_NE(copy, data) << pw;
    DecryptOwnerBytes(key, copy);
    EXPECT_EQ(copy, data) << pw;
  }
}

TEST(OwnerKey, BlockRangesAreClippedAndMerged) {
  std::vector<std::uint8_t> header(512, 0);
  auto put = [&](int entry, std::uint32_t start, std::uint32_t end) {
    for (int b = 0; b < 4; ++b) {
      header[std::size_t(32 + 4 * entry + b)] = std::uint8_t(start >> (8 * b));
      header[std::size_t(272 + 4 * entry + b)] = std::uint8_t(end >> (8 * b));
    }
  };
  put(0, 0, 4);    // 512 .. 1536
  put(1, 2, 6);    // 1024 .. 2048, overlaps entry 0
  put(2, 10, 10);  // empty
  put(3, 20, 99);  // 5632 .. clipped to the file size
  std::array<TTPSByteRange, 60> r;
  std::size_t n = TpsBlockRanges(header, 6000, r);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(r[0].start, 512u);
  EXPECT_EQ(r[0].end, 2048u);
  EXPECT_EQ(r[1].start, 5632u);
  EXPECT_EQ(r[1].end, 6000u);
}

TEST(OwnerKey, SampleHeaderDecryptsOnlyWithTheRightOwner) {
  std::string dir = SamplesDir();
  if (dir.empty()) GTEST_SKIP() << "samples absent";
  auto encrypted = ReadFileBytes(dir + "/encrypted-a.tps");
  auto plainTwin = ReadFileBytes(dir + "/not-encrypted.tps");
  EXPECT_FALSE(TpsHeaderSignatureOk(encrypted));
  EXPECT_TRUE(TpsHeaderSignatureOk(plainTwin));
  auto wrong = encrypted;
  EXPECT_FALSE(DecryptTpsImage(MakeOwnerKey("b"), wrong));
  EXPECT_TRUE(DecryptTpsImage(MakeOwnerKey("a"), encrypted));
  EXPECT_TRUE(TpsHeaderSignatureOk(encrypted));
}

// Reads through a decrypting view equal the file decrypted in place, wherever they
// start and end: ranges that cross blocks, plain bytes between ranges, the header, a
// range clipped to a file size that is no multiple of a block. A wrong owner leaves the
// view reading the file as it is.
TEST(OwnerKey, DecryptingViewReadsWhatTheDecryptedImageHolds) {
  tpsw::Rng rng{5};
  std::vector<std::uint8_t> plain(3 * (1u << 20) + 1000);
  for (auto& b : plain) b = std::uint8_t(rng.Next());
  std::fill(plain.begin(), plain.begin() + 512, 0);
  std::memcpy(plain.data() + 14, "tOpS", 4);
  auto put = [&](int entry, std::uint32_t start, std::uint32_t end) {
    for (int b = 0; b < 4; ++b) {
      plain[std::size_t(32 + 4 * entry + b)] = std::uint8_t(start >> (8 * b));
      plain[std::size_t(272 + 4 * entry + b)] = std::uint8_t(end >> (8 * b));
    }
  };
  put(0, 0, 4096 + 16);       // 512 .. past the first MiB
  put(1, 8190, 0xFFFFFF00u);  // from just before 2 MiB to the end of the file
  std::vector<std::uint8_t> encrypted = plain;
  EncryptTpsImage(MakeOwnerKey("pw"), encrypted);
  std::vector<std::uint8_t> expected = encrypted;
  ASSERT_TRUE(DecryptTpsImage(MakeOwnerKey("pw"), expected));
  EXPECT_TRUE(expected == plain);  // the tail shorter than a block is plain in both

  TTPSFileView wrong(encrypted);
  EXPECT_FALSE(wrong.DecryptWith(MakeOwnerKey("pW")));
  TTPSFileView view(encrypted);
  ASSERT_TRUE(view.DecryptWith(MakeOwnerKey("pw")));
  std::vector<std::uint8_t> scratch;
  auto same = [&](std::uint64_t pos, std::size_t length) {
    const auto got = view.Read(pos, length, scratch);
    const std::size_t n = std::size_t(std::min<std::uint64_t>(length, expected.size() - pos));
    return got.size() == n && std::equal(got.begin(), got.end(), expected.begin() + long(pos));
  };
  const std::uint64_t size = expected.size();
  for (std::uint64_t pos : {std::uint64_t(0), std::uint64_t(13), std::uint64_t(500),
                            std::uint64_t(512), std::uint64_t(1 << 20) + 4096 + 500,
                            std::uint64_t(2 << 20) - 1000, size - 1000, size - 40, size - 1})
    for (std::size_t length :
         {std::size_t(1), std::size_t(13), std::size_t(64), std::size_t(700), std::size_t(70000)})
      EXPECT_TRUE(same(pos, length)) << pos << " " << length;
  for (int k = 0; k < 300; ++k) {
    const std::uint64_t pos = rng.Next() % size;
    const std::size_t length = rng.Next() % 20000;
    EXPECT_TRUE(same(pos, length)) << pos << " " << length;
  }
  EXPECT_TRUE(view.Read(size, 10, scratch).empty());
}

// Two tables, memos in several pieces, several blocks: written plain and encrypted.
std::vector<std::uint8_t> TwoTableFile(const std::string& owner) {
  tpsw::Options opt;
  opt.owner = owner;
  opt.pagesPerBlock = 2;
  opt.memoPieceSize = 40;
  std::vector<std::uint8_t> bytes;
  tpsw::Writer w(&bytes, opt);
  tpsw::Table a;
  a.number = 1;
  a.name = "PEOPLE";
  a.fields = {tpsw::Field{tpsw::kLong, "P:ID", 0, 4}, tpsw::Field{tpsw::kString, "P:NAME", 4, 12}};
  a.memos = {tpsw::Memo{"P:NOTES"}};
  tpsw::Table b;
  b.number = 2;
  b.name = "CODES";
  b.fields = {tpsw::Field{tpsw::kShort, "C:CODE", 0, 2}};
  w.AddTable(a);
  w.AddTable(b);
  for (int i = 1; i <= 300; ++i) {
    tpsw::Payload p(a.RecordLength());
    p.PutLong(0, i).PutString(4, 12, "name" + std::to_string(i));
    w.AddRow(1, std::uint32_t(i), p,
             {{0, "a memo long enough for several pieces, row " + std::to_string(i)}});
    tpsw::Payload q(b.RecordLength());
    q.PutShort(0, std::int16_t(-i));
    w.AddRow(2, std::uint32_t(i), q, {});
  }
  w.Finish();
  return bytes;
}

std::string Dump(TClarionTPS& r) {
  std::string out;
  for (int s = 0; s < r.Sheets().Count(); ++s) {
    const TSpreadSheet& sheet = r.Sheets()[s];
    out += sheet.Caption + "\n";
    for (int row = 0; row < sheet.Cells.RowCount; ++row) {
      for (int col = 0; col < sheet.Cells.ColCount; ++col)
        out += tpstest::Text(sheet, col, row) + "|";
      out += "\n";
    }
  }
  return out;
}

std::string SignatureFailure(std::vector<std::uint8_t> bytes, std::optional<std::string> owner) {
  TClarionTPS r;
  r.ResetGrid();
  r.Owner = owner;
  TMemoryStream s(std::move(bytes));
  try {
    r.LoadFromStream(s);
  } catch (const EKvIFileFormatException& e) {
    return e.Message();
  }
  return "loaded";
}

TEST(OwnerFiles, EncryptedFileReadsLikeItsPlainTwin) {
  auto plain = TwoTableFile("");
  auto encrypted = TwoTableFile("Secret$&#");
  ASSERT_EQ(plain.size(), encrypted.size());
  EXPECT_NE(plain, encrypted);
  auto expected = Dump(*tpstest::Load(plain));
  EXPECT_NE(expected.find("a memo long enough for several pieces, row 300"), std::string::npos);

  TClarionTPS r;
  r.ResetGrid();
  r.Owner = "Secret$&#";
  TMemoryStream s(encrypted);
  r.LoadFromStream(s);
  EXPECT_EQ(Dump(r), expected);

  // a plain file given an owner opens as usual
  TClarionTPS p;
  p.ResetGrid();
  p.Owner = "whatever";
  TMemoryStream ps(plain);
  p.LoadFromStream(ps);
  EXPECT_EQ(Dump(p), expected);

  const std::string signature =
      "File signature is not correct. Possible bad file or custom algorithm used to "
      "encypt/compress this file.";
  EXPECT_EQ(SignatureFailure(encrypted, std::nullopt), signature);
  EXPECT_EQ(SignatureFailure(encrypted, std::string("secret$&#")), signature);  // case matters
}

TEST(OwnerFiles, EncryptedSampleHoldsTheRowsOfItsPlainTwin) {
  std::string dir = SamplesDir();
  if (dir.empty()) GTEST_SKIP() << "samples absent";
  auto plain = tpstest::Load(ReadFileBytes(dir + "/not-encrypted.tps"));
  TClarionTPS r;
  r.ResetGrid();
  r.Owner = "a";
  TFileStream s(dir + "/encrypted-a.tps");
  r.LoadFromStream(s);
  ASSERT_EQ(r.Sheets().Count(), 1);
  EXPECT_EQ(tpstest::Sheet(r, 0).TableNumber, 2);
  EXPECT_EQ(r.Sheets()[0].Cells.RowCount, 17);
  EXPECT_EQ(Dump(r), Dump(*plain));
}

}  // namespace
