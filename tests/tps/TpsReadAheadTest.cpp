// Pages prepared by a second thread ahead of the load give the same records, sink calls,
// damage reports and failures as the load that prepares every page itself.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "../../fuzz/TpsFeatureFiles.h"
#include "cells/KvExceptions.h"
#include "tps/KvTPSContainer.h"
#include "tps/KvTPSDamage.h"
#include "tps/KvTPSOwner.h"
#include "tpswriter/TpsWriter.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Hands every data record to the sink and keeps memo pieces in the lists; all as text.
struct RecordingSink : TTPSDataSink {
  std::string log;
  void DataRecord(std::uint64_t pageOffset, std::uint32_t indexInPage, std::int32_t tableNumber,
                  std::int32_t recordNumber, std::span<const std::uint8_t> data,
                  std::uint16_t headerLength) override {
    log += "D" + std::to_string(pageOffset) + "." + std::to_string(indexInPage) + " " +
           std::to_string(tableNumber) + " " + std::to_string(recordNumber) + " " +
           std::to_string(headerLength) + " " + std::string(data.begin(), data.end()) + "\n";
  }
  void Passed(std::uint64_t offset) override { log += "P" + std::to_string(offset) + "\n"; }
};

std::string Describe(const TTPSRecords& list) {
  std::string out;
  for (const TTPSRecord& r : list.Items())
    out += std::to_string(r.Kind) + " " + std::to_string(r.TableNumber) + " " +
           std::to_string(r.IndexInPage) + " " + std::to_string(r.Flags) + " " +
           std::to_string(r.RecordLength) + " " + std::string(r.Bytes().begin(), r.Bytes().end()) +
           "\n";
  return out;
}

// Everything a load gives, as text.
std::string Collect(const Bytes& file, const std::string& owner, bool sink,
                    TTPSReadAheadMode mode) {
  TTPSFileView view(file);
  if (!owner.empty()) view.DecryptWith(MakeOwnerKey(owner));
  std::uint8_t header[512];
  TTPSRecords records, memos;
  TTPSByteStore store;
  TTPSDamage damage;
  RecordingSink recording;
  std::atomic<std::uint64_t> position{0};
  std::string out;
  try {
    TpsCollectRecords(view, header, records, memos, store, sink ? &recording : nullptr, &damage,
                      &position, mode);
  } catch (const Exception& e) {
    out += "failed: " + e.Message() + "\n";
  }
  out += "records\n" + Describe(records) + "memos\n" + Describe(memos) + "sink\n" + recording.log;
  for (const std::string& line : damage.Lines()) out += line + "\n";
  return out + "position " + std::to_string(position.load());
}

Bytes MultiPageFile(bool compress, const std::string& owner) {
  tpsw::Table t;
  t.number = 3;
  t.name = "AHEAD";
  t.fields = {tpsw::Field(tpsw::kLong, "AH:ID", 0, 4),
              tpsw::Field(tpsw::kString, "AH:NAME", 4, 20)};
  t.memos = {tpsw::Memo("AH:NOTE")};
  std::vector<std::vector<std::string>> rows;
  for (int i = 1; i <= 1500; ++i)
    rows.push_back({std::to_string(i), "name " + std::to_string(i * 7919 % 1000),
                    i % 3 ? std::string(std::size_t(i % 90), char('a' + i % 26)) : ""});
  tpsw::Options o;
  o.compress = compress;
  o.pageSize = 512;
  o.memoPieceSize = 40;
  o.pagesPerBlock = 40;  // several block entries
  o.owner = owner;
  return tpsw::Fixture(t, rows, o);
}

TEST(TpsReadAhead, SameLoadWithAndWithoutTheSecondThread) {
  struct Case {
    bool compress;
    std::string owner;
  };
  const Case cases[] = {{true, ""}, {false, ""}, {true, "ahead pw"}};
  for (const Case& c : cases) {
    const Bytes good = MultiPageFile(c.compress, c.owner);
    ASSERT_GT(good.size(), std::size_t(64) << 10);  // many more pages than are read ahead
    const std::string intact = Collect(good, c.owner, false, TTPSReadAheadMode::Off);
    ASSERT_EQ(intact.find("failed"), std::string::npos) << c.owner;
    ASSERT_NE(intact.find("AH:NOTE"), std::string::npos);
    EXPECT_EQ(Collect(good, c.owner, false, TTPSReadAheadMode::On), intact) << c.owner;
    // Damaged copies: bytes changed anywhere, or in the block table only (which makes
    // the load search for pages outside the blocks).
    std::mt19937 rng(c.compress ? 20 : 21);
    int damaged = 0;
    for (int trial = 0; trial < 120; ++trial) {
      Bytes b = good;
      const bool table = trial % 4 == 0;
      for (int hits = 1 + int(rng() % 6); hits-- > 0;) {
        const std::size_t at = table ? 32 + rng() % 480 : rng() % b.size();
        b[at] = std::uint8_t(rng());
      }
      const bool sink = trial % 2 == 1;
      const std::string off = Collect(b, c.owner, sink, TTPSReadAheadMode::Off);
      damaged += off.find("Warning") != std::string::npos;
      ASSERT_EQ(Collect(b, c.owner, sink, TTPSReadAheadMode::On), off)
          << c.owner << " " << c.compress << " trial " << trial;
    }
    EXPECT_GT(damaged, 20) << "the damage should be found and reported";
  }
  // Pages of tens of thousands of records sharing all they can: far more walked bytes
  // than a prepared page keeps, so the load walks them itself.
  for (int pages : {1, 3}) {
    const Bytes file = tpsfeatures::RawFile(
        std::vector<tpsfeatures::RawPage>(std::size_t(pages), tpsfeatures::RecordCountBombPage()));
    for (bool sink : {false, true})
      EXPECT_EQ(Collect(file, "", sink, TTPSReadAheadMode::On),
                Collect(file, "", sink, TTPSReadAheadMode::Off))
          << pages << " " << sink;
  }
}

}  // namespace
