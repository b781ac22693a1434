#include "front/OutputPaths.h"

#include <sys/stat.h>

#include "front/PathNames.h"

namespace {

// Characters a table name may not bring into a file name: path separators and a
// drive's colon everywhere, and on Windows also those its file names cannot hold.
#ifdef _WIN32
constexpr std::string_view kNameBreakers = "/\\:<>\"|?*";
#else
constexpr std::string_view kNameBreakers = "/\\:";
#endif

// Position of the extension's dot in the file-name part, or npos.
std::size_t ExtensionStart(const std::string& path) {
  const std::size_t start = FileNamePartStart(path);
  const std::size_t dot = path.rfind('.');
  return dot == std::string::npos || dot < start ? std::string::npos : dot;
}

// The form under which paths are compared. Windows file names ignore letter case and
// take either slash.
std::string PathKey(const std::string& path) {
#ifdef _WIN32
  std::string key(path);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c == '/') c = '\\';
  }
  return key;
#else
  return path;
#endif
}

}  // namespace

std::string SanitizeTableName(std::string_view name) {
  std::string out(name);
  bool onlyDots = !out.empty();
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (kNameBreakers.find(c) != std::string_view::npos || u < 32 || u == 127) c = '_';
    if (c != '.') onlyDots = false;
  }
  if (onlyDots) return "_";
  return out;
}

std::string OutputPathFor(const std::string& target, const std::string& tableName) {
  if (tableName.empty() || tableName == "UNNAMED") return target;
  const std::size_t ext = ExtensionStart(target);
  const std::string base = ext == std::string::npos ? target : target.substr(0, ext);
  const std::string extension = ext == std::string::npos ? "" : target.substr(ext);
  return base + "." + SanitizeTableName(tableName) + extension;
}

std::string InsertBeforeExtension(const std::string& path, std::string_view tag) {
  const std::size_t ext = ExtensionStart(path);
  if (ext == std::string::npos) return path + "." + std::string(tag);
  return path.substr(0, ext) + "." + std::string(tag) + path.substr(ext);
}

bool TOutputPaths::AlreadyUsed(const std::string& path) const {
  if (paths_.count(PathKey(path)) != 0) return true;
  struct stat st;
  return stat(path.c_str(), &st) == 0 && st.st_ino != 0 &&
         files_.count({st.st_dev, st.st_ino}) != 0;
}

void TOutputPaths::Remember(const std::string& path) {
  paths_.insert(PathKey(path));
  struct stat st;
  // File systems without inode numbers report 0; such files are known by path only.
  if (stat(path.c_str(), &st) == 0 && st.st_ino != 0) files_.insert({st.st_dev, st.st_ino});
}

std::string TOutputPaths::Unique(const std::string& derived, std::int32_t tableNumber) const {
  if (!AlreadyUsed(derived)) return derived;
  const std::string number = std::to_string(tableNumber);
  std::string path = InsertBeforeExtension(derived, number);
  for (int k = 2; AlreadyUsed(path); ++k)
    path = InsertBeforeExtension(derived, number + "-" + std::to_string(k));
  return path;
}
