// Command-line splitting and switch parsing over arbitrary raw command lines: every
// token of the line, the counted arguments, and the run options they give.
//
// Splitting never fails; the switch parser may reject a value with one of the
// project's exceptions. Anything else is a defect.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cells/KvExceptions.h"
#include "front/CmdLineHelper.h"
#include "front/RunOptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> tokens;
  std::size_t pos = 0;
  std::string token;
  while (NextCmdLineToken(line, pos, token)) {
    if (pos > line.size()) std::abort();  // the position never passes the end
    tokens.push_back(token);
    token.clear();
  }
  // The other entries agree with the token loop.
  const std::vector<std::string> split = SplitCmdLine(line);
  if (split != tokens) std::abort();
  const int count = CmdLineParamCount(line);
  if (count != (tokens.empty() ? 0 : int(tokens.size()) - 1)) std::abort();
  std::vector<std::string> arguments;
  for (int i = 1; i <= count; ++i) arguments.push_back(CmdLineParamStr(line, i));
  if (!CmdLineParamStr(line, count + 1).empty()) std::abort();
  try {
    TRunOptions o = ParseRunOptions(arguments);
    for (const std::string& a : arguments) ApplySwitch(o, a);
    (void)ApplyBackslashForm(o.Delimiter);
    (void)ApplyBackslashForm(o.Qualifier);
  } catch (const Exception&) {
  }
  return 0;
}
