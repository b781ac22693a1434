// Damaged files: the program, run as a process on truncated and corrupted copies of
// files of every feature, ends within a few seconds with exit code 0, 1 (with a
// message on standard output) or 3 (with warnings on standard error), never by a
// signal, and writes nothing outside the target's directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "../../fuzz/TpsFeatureFiles.h"
#include "TestSupport.h"
#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "front/WriteTextSupport.h"

namespace fs = std::filesystem;

namespace {

using tpsw::Rng;

// Cut points: inside the header, at and just after every page boundary (pages sit
// on 256-byte boundaries after the 512-byte header), inside page headers and inside
// the records of a page, and one byte before the end.
std::vector<std::size_t> CutPoints(std::size_t size) {
  std::set<std::size_t> cuts = {0, 1, 17, 40, 300, 511};
  for (std::size_t page = 512; page < size; page += 256)
    for (std::size_t d : {0, 6, 13, 60})
      if (page + d < size) cuts.insert(page + d);
  if (size > 0) cuts.insert(size - 1);
  std::vector<std::size_t> out(cuts.begin(), cuts.end());
  // At most 16 cuts per file, spread over the whole range.
  if (out.size() > 16) {
    std::vector<std::size_t> spread;
    for (std::size_t k = 0; k < 16; ++k) spread.push_back(out[k * (out.size() - 1) / 15]);
    out = spread;
  }
  return out;
}

// A copy with 1 to 8 bytes changed: half of the changes in the header's block table,
// the others in the pages.
std::vector<std::uint8_t> Corrupt(std::vector<std::uint8_t> bytes, Rng& rng) {
  const std::size_t changes = 1 + rng.Below(8);
  for (std::size_t k = 0; k < changes; ++k) {
    std::size_t at;
    if (rng.Below(2) == 0 || bytes.size() <= 512)
      at = 32 + rng.Below(std::min<std::size_t>(bytes.size(), 512) - 32);
    else
      at = 512 + rng.Below(bytes.size() - 512);
    switch (rng.Below(3)) {
      case 0:
        bytes[at] = std::uint8_t(rng.Next());
        break;
      case 1:
        bytes[at] ^= std::uint8_t(1u << rng.Below(8));
        break;
      default:
        bytes[at] = rng.Below(2) ? 0xFF : 0x00;
        break;
    }
  }
  return bytes;
}

// Every path below root, relative to it.
std::set<std::string> Listing(const fs::path& root) {
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root))
    out.insert(fs::relative(e.path(), root).string());
  return out;
}

// Switch sets the runs take in turn, so that every way of writing is exercised.
const std::vector<std::vector<std::string>> kSwitchSets = {
    {}, {"/h", "/f"}, {"/fixed", "/h"}, {"/delimiter=,", "/qualifier=\"", "/group=1"}};

class DamagedFiles : public ::testing::TestWithParam<std::size_t> {
 protected:
  // Runs the program on these bytes and checks how it ended and what it wrote.
  ProcessResult RunOn(const std::vector<std::uint8_t>& bytes, const std::string& owner,
                      const std::string& what, std::size_t variant) {
    SCOPED_TRACE(what);
    const fs::path root = dir_.Path();
    fs::remove_all(root / "out");
    fs::create_directories(root / "out");
    fs::create_directories(root / "cwd");
    WriteFileBytes((root / "in" / "damaged.tps").string(), bytes);

    std::vector<std::string> args = {VeltroBinary(), (root / "in" / "damaged.tps").string(),
                                     (root / "out" / "result.txt").string()};
    for (const auto& s : kSwitchSets[variant % kSwitchSets.size()]) args.push_back(s);
    if (!owner.empty()) args.push_back("/OWNER=" + owner);
    const ProcessResult r = RunProcess(args, (root / "cwd").string(), 10);

    EXPECT_EQ(r.signal, 0) << "killed by a signal or a hang; stderr: " << r.err;
    EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 1 || r.exitCode == 3)
        << "exit code " << r.exitCode << "; stdout: " << r.out << "; stderr: " << r.err;
    if (r.exitCode == 1) {
      EXPECT_FALSE(r.out.empty()) << "a failure without a message; stderr: " << r.err;
    }
    if (r.exitCode == 3) {
      EXPECT_NE(r.err.find("Warning: "), std::string::npos) << "a loss without a warning";
    }
    // The sanitizer build reports with exit code 1 on standard error.
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;

    // Output only as plain files directly in the target's directory.
    for (const std::string& p : Listing(root)) {
      const bool expected = p == "in" || p == "in/damaged.tps" || p == "out" || p == "cwd" ||
                            (p.rfind("out/", 0) == 0 && p.find('/', 4) == std::string::npos &&
                             fs::is_regular_file(root / p));
      EXPECT_TRUE(expected) << "unexpected path " << p;
    }
    // VELTRO_KEEP_DAMAGED=<directory> keeps the input of every failing run there.
    if (HasFailure() && std::getenv("VELTRO_KEEP_DAMAGED")) {
      std::string name = what;
      std::replace(name.begin(), name.end(), ' ', '-');
      fs::copy_file(root / "in" / "damaged.tps",
                    fs::path(std::getenv("VELTRO_KEEP_DAMAGED")) /
                        (std::to_string(GetParam()) + "-" + name + ".tps"),
                    fs::copy_options::overwrite_existing);
    }
    ++runs_;
    return r;
  }

  TempDir dir_;
  int runs_ = 0;
};

TEST_P(DamagedFiles, TruncatedAndCorruptedCopiesEndCleanly) {
  const auto files = tpsfeatures::FeatureFiles();
  ASSERT_LT(GetParam(), files.size());
  const tpsfeatures::FeatureFile& f = files[GetParam()];
  SCOPED_TRACE(f.name);
  fs::create_directories(fs::path(dir_.Path()) / "in");

  // The undamaged file converts.
  const ProcessResult intact = RunOn(f.bytes, f.owner, "intact", 0);
  EXPECT_EQ(intact.exitCode, 0) << intact.out;
  EXPECT_FALSE(fs::is_empty(fs::path(dir_.Path()) / "out"));

  std::size_t variant = 1;
  for (std::size_t cut : CutPoints(f.bytes.size())) {
    std::vector<std::uint8_t> part(f.bytes.begin(), f.bytes.begin() + long(cut));
    RunOn(part, f.owner, "cut at " + std::to_string(cut), variant++);
    if (HasFatalFailure() || HasFailure()) return;
  }
  Rng rng(0x5eed0000u + GetParam());
  for (int k = 0; k < 20; ++k) {
    RunOn(Corrupt(f.bytes, rng), f.owner, "corruption " + std::to_string(k), variant++);
    if (HasFailure()) return;
  }
  EXPECT_GE(runs_, 25);
}

TEST(HostileFiles, EndWithAMessageOrConvertWithinBounds) {
  TempDir dir;
  const std::string out = dir.File("out.txt");
  auto run = [&](const std::vector<std::uint8_t>& bytes) {
    WriteFileBytes(dir.File("in.tps"), bytes);
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers reserve far more address space than any limit would allow.
    return RunProcess({VeltroBinary(), dir.File("in.tps"), out}, dir.Path(), 10);
#else
    // At most 512 MiB of address space: more would be far beyond these small files.
    return RunProcess({"/bin/sh", "-c", "ulimit -v 524288 && exec \"$0\" \"$@\"", VeltroBinary(),
                       dir.File("in.tps"), out},
                      dir.Path(), 10);
#endif
  };
  // 64 pages of 65,455 shared records each (4 MiB) and no definition: the records are
  // counted within the memory bounds and left out.
  const ProcessResult bomb = run(tpsfeatures::RawFile(
      std::vector<tpsfeatures::RawPage>(64, tpsfeatures::RecordCountBombPage())));
  EXPECT_EQ(bomb.signal, 0);
  EXPECT_EQ(bomb.exitCode, 3) << bomb.out << bomb.err;
  EXPECT_EQ(bomb.err,
            "Warning: table number 1 has 4,189,120 data records but no usable definition; they "
            "were not written.\r\n");
  // Pages asking for megabytes of expansion each: none expands to its size, each is
  // passed over and counted.
  const ProcessResult wide = run(tpsfeatures::RawFile(
      std::vector<tpsfeatures::RawPage>(16, tpsfeatures::ExpansionBombPage())));
  EXPECT_EQ(wide.signal, 0);
  EXPECT_EQ(wide.exitCode, 3) << wide.out << wide.err;
  EXPECT_NE(wide.err.find("Warning: 16 pages could not be read (at offsets 512, 1536, "),
            std::string::npos)
      << wide.err;

  // Record numbers 4,294,967,295 (no row), 2,147,483,647 and 1: two lines.
  tpsw::Table t;
  t.number = 1;
  t.name = "UNNAMED";  // written to the target itself
  t.fields = {tpsw::Field(tpsw::kLong, "R:ID", 0, 4)};
  std::vector<std::uint8_t> numbers;
  {
    tpsw::Writer w(&numbers);
    w.AddTable(t);
    for (std::int32_t rec : {std::int32_t(-1), std::int32_t(2147483647), std::int32_t(1)}) {
      tpsw::Payload p(4);
      p.PutLong(0, rec);
      w.AddRow(1, rec, p);
    }
  }
  const ProcessResult far = run(numbers);
  EXPECT_EQ(far.exitCode, 0) << far.out << far.err;
  EXPECT_EQ(ReadFileText(out), "1\r\n2147483647\r\n");
}

TEST(HostileFiles, TextOfATableStopsAtItsLimit) {
  // Three rows of "abc": 5 bytes a line with CR LF.
  TSpreadSheetCells cells;
  for (int row = 0; row < 3; ++row)
    cells.SetCell(0, row, Variant::String("abc"), taLeftJustify, 0, ictString);
  const TTableSchema fields = TestSchema({{tpsChar, "NAME", 3}});
  TempDir dir;
  for (std::uint64_t limit : {15u, 14u, 3u}) {
    TWalkLimits limits;
    limits.MaxBytes = limit;
    TBufferedFileWriter out(dir.File("t.txt"), 64);
    std::string error;
    std::uint64_t written = 0;
    try {
      written = WriteText(out, cells, fields, TRunOptions(), FormatSettings::Iso(), {}, limits);
    } catch (const Exception& e) {
      error = e.Message();
    }
    out.Close();
    if (limit == 15) {
      EXPECT_EQ(written, 15u);
      EXPECT_EQ(error, "");
    } else {
      EXPECT_EQ(error, kTextLimitMessage);
    }
    // Whole lines only: what fits stays in the file.
    EXPECT_EQ(ReadFileText(dir.File("t.txt")), limit == 3    ? ""
                                               : limit == 14 ? "abc\r\nabc\r\n"
                                                             : "abc\r\nabc\r\nabc\r\n");
  }
}

TEST(HostileFiles, RowsOfDamagedWidthAreLeftOut) {
  TempDir dir;
  const std::string out = dir.File("out.txt");
  auto run = [&](const tpsw::Table& t, int rows) {
    std::vector<std::uint8_t> bytes;
    {
      tpsw::Writer w(&bytes);
      w.AddTable(t);
      for (int i = 1; i <= rows; ++i) {
        tpsw::Payload p(t.RecordLength());
        p.PutLong(0, i);
        w.AddRow(t.number, i, p);
      }
    }
    EXPECT_LT(bytes.size(), 100000u);
    WriteFileBytes(dir.File("in.tps"), bytes);
    return RunProcess({VeltroBinary(), dir.File("in.tps"), out}, dir.Path(), 20);
  };
  // 2,000 rows whose one damaged array field (65,535 elements over 4 bytes) would give
  // 128 KiB of text each, 250 MiB from a small file: the definition is damaged, the
  // table left out and named.
  tpsw::Table many;
  many.number = 1;
  many.name = "UNNAMED";
  many.fields = {tpsw::Field(tpsw::kLong, "A:ID", 0, 4), tpsw::Field(tpsw::kLong, "A:V", 4, 4)};
  many.fields[1].elements = 65535;
  ProcessResult r = run(many, 2000);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
  EXPECT_EQ(r.err,
            "Warning: the definition of table UNNAMED is damaged (field A:V has more elements "
            "than bytes).\r\nWarning: table UNNAMED has 2,000 data records but no usable "
            "definition; they were not written.\r\n");
  EXPECT_FALSE(PathExists(out));

  // One row of 3,000 such fields (a single line of 380 MiB): left out too.
  tpsw::Table wide = many;
  wide.fields.resize(1);
  for (int k = 0; k < 3000; ++k) {
    wide.fields.push_back(tpsw::Field(tpsw::kLong, "A:V" + std::to_string(k), 4, 4));
    wide.fields.back().elements = 65535;
  }
  r = run(wide, 1);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
  EXPECT_NE(r.err.find("table UNNAMED has 1 data record but no usable definition"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(PathExists(out));
}

std::string FileParamName(const ::testing::TestParamInfo<std::size_t>& info) {
  std::string name = tpsfeatures::FeatureFiles()[info.param].name;
  name = name.substr(0, name.find('.'));
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(EveryFeature, DamagedFiles,
                         ::testing::Range<std::size_t>(0, tpsfeatures::FeatureFiles().size()),
                         FileParamName);

}  // namespace
