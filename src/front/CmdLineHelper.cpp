#include "front/CmdLineHelper.h"

namespace {

bool IsSeparator(unsigned char c) { return c >= 1 && c <= 32; }

}  // namespace

bool NextCmdLineToken(std::string_view line, std::size_t& pos, std::string& token) {
  token.clear();
  const std::size_t n = line.size();
  while (pos < n && IsSeparator(static_cast<unsigned char>(line[pos]))) ++pos;
  // A NUL byte ends the text, as the end of a C string would.
  if (pos >= n || line[pos] == '\0') return false;
  bool inQuotes = false;
  while (pos < n && line[pos] != '\0') {
    const char c = line[pos];
    if (c == '\\') {
      std::size_t run = 0;
      while (pos + run < n && line[pos + run] == '\\') ++run;
      if (pos + run < n && line[pos + run] == '"') {
        token.append(run / 2, '\\');
        pos += run;
        if (run % 2 == 1) {
          token.push_back('"');
          ++pos;  // the literal quote is consumed
        }
        // With an even run the quote is left for the toggle below.
      } else {
        token.append(run, '\\');
        pos += run;
      }
      continue;
    }
    if (c == '"') {
      inQuotes = !inQuotes;
      ++pos;
      continue;
    }
    if (IsSeparator(static_cast<unsigned char>(c)) && !inQuotes) break;
    token.push_back(c);
    ++pos;
  }
  return true;
}

std::vector<std::string> SplitCmdLine(std::string_view line) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  std::string token;
  while (NextCmdLineToken(line, pos, token)) out.push_back(token);
  return out;
}

int CmdLineParamCount(std::string_view line) {
  std::size_t pos = 0;
  std::string token;
  if (!NextCmdLineToken(line, pos, token)) return 0;  // no program token
  int count = 0;
  while (NextCmdLineToken(line, pos, token)) ++count;
  return count;
}

std::string CmdLineParamStr(std::string_view line, int i) {
  if (i <= 0) return ProgramFilePath();
  std::size_t pos = 0;
  std::string token;
  for (int k = 0; k <= i; ++k)
    if (!NextCmdLineToken(line, pos, token)) return "";
  return token;
}

std::string QuoteCmdLineArgument(std::string_view argument) {
  bool plain = !argument.empty();
  for (char c : argument)
    if (c == '"' || IsSeparator(static_cast<unsigned char>(c))) plain = false;
  if (plain) return std::string(argument);
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled and the quote escaped; elsewhere they
    // stand for themselves.
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, '\\');  // they come before the closing quote
  out.push_back('"');
  return out;
}
