#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

std::string SamplesDir() {
  fs::path p = fs::path(VELTRO_SOURCE_DIR) / ".." / "shared" / "samples";
  std::error_code ec;
  if (fs::is_directory(p, ec)) return fs::weakly_canonical(p).string();
  return "";
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadFileText(const std::string& path) {
  auto b = ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteFileText(const std::string& path, const std::string& text) {
  WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

bool PathExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::string VeltroBinary() {
  // VELTRO_UNDER_TEST names another build of the program to run instead, for
  // example a launcher of the Windows build.
  const char* other = std::getenv("VELTRO_UNDER_TEST");
  if (other && *other) return other;
  return VELTRO_BINARY;
}
