#include "tests/test_util.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

namespace nxo::test {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          ("nxo-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Str() const {
  std::string text = path_.string();
  char separator = static_cast<char>(std::filesystem::path::preferred_separator);
  if (text.empty() || text.back() != separator) text.push_back(separator);
  return text;
}

std::string TempDir::File(const std::string& name) const { return Str() + name; }

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::string Le32(std::uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

std::string EmptyArchiveEnd(std::size_t archive_size) {
  constexpr std::size_t kEndRecordSize = 22;
  std::string record("PK\5\6", 4);
  record += std::string(8, '\0');  // disks and entry counts
  record += Le32(0);               // directory size
  record += Le32(static_cast<std::uint32_t>(archive_size - kEndRecordSize));  // directory offset
  record += std::string(2, '\0');  // comment length
  return record;
}

}  // namespace nxo::test
