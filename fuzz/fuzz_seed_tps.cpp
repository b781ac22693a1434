// Writes the seed corpus of the TopSpeed fuzzer: one file per feature of the format and
// two hostile ones, into the directory given as the only argument.
#include <cstdio>
#include <string>

#include "TpsFeatureFiles.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seed_tps <directory>\n");
    return 2;
  }
  auto files = tpsfeatures::FeatureFiles();
  // Hostile pages too: a record-count bomb and an expansion bomb.
  files.push_back(
      {"record-count.tps", tpsfeatures::RawFile({tpsfeatures::RecordCountBombPage()}), ""});
  files.push_back({"expansion.tps", tpsfeatures::RawFile({tpsfeatures::ExpansionBombPage()}), ""});
  for (const auto& f : files) {
    const std::string path = std::string(argv[1]) + "/" + f.name;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out || std::fwrite(f.bytes.data(), 1, f.bytes.size(), out) != f.bytes.size() ||
        std::fclose(out) != 0) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
