// tpsgen: writes TopSpeed files with the project's writer.
//   tpsgen demo <out.tps>               the demo file (CUSTOMER and ORDERS tables)
//   tpsgen bench <out.tps> <megabytes> [--owner=<password>]
//                                       a benchmark file of about that size, encrypted
//                                       with the owner password when one is given
//   tpsgen memobench <out.tps> <megabytes>
//                                       the same rows with a memo on 70 % of them and
//                                       a BLOB of 1 to 4 KiB on half of them
// Both are deterministic: the same command gives the same bytes.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "tpswriter/TpsDemo.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: tpsgen demo <out.tps>\n"
               "       tpsgen bench <out.tps> <megabytes> [--owner=<password>]\n"
               "       tpsgen memobench <out.tps> <megabytes>\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() == 2 && args[0] == "demo") {
      tpsw::WriteDemo(args[1]);
      return 0;
    }
    if (args.size() == 3 && args[0] == "memobench") {
      const double mb = std::atof(args[2].c_str());
      if (mb <= 0) {
        Usage();
        return 2;
      }
      tpsw::BenchResult r = tpsw::WriteBench(args[1], mb, "", true);
      std::printf("%d rows, %llu bytes\n", r.rows, (unsigned long long)r.bytes);
      return 0;
    }
    const std::string ownerSwitch = "--owner=";
    if ((args.size() == 3 || (args.size() == 4 && args[3].rfind(ownerSwitch, 0) == 0)) &&
        args[0] == "bench") {
      double mb = std::atof(args[2].c_str());
      const std::string owner = args.size() == 4 ? args[3].substr(ownerSwitch.size()) : "";
      if (mb <= 0 || (args.size() == 4 && owner.empty())) {
        Usage();
        return 2;
      }
      tpsw::BenchResult r = tpsw::WriteBench(args[1], mb, owner);
      std::printf("%d rows, %llu bytes\n", r.rows, (unsigned long long)r.bytes);
      return 0;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tpsgen: %s\n", e.what());
    return 1;
  }
  Usage();
  return 2;
}
