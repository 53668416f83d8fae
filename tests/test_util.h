// Small helpers shared by the tests: scratch directories and files.
#pragma once

#include <filesystem>
#include <string>

namespace nxo::test {

// A fresh directory below the system's temporary directory, removed with the
// object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The path as narrow text, with the platform's separator at the end.
  std::string Str() const;
  std::string File(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// Bytes of a little-endian 32-bit value.
std::string Le32(std::uint32_t value);

// The end record of an empty archive of |archive_size| bytes: its central
// directory is empty and ends where the record starts, as the launcher
// expects of the archive it was packed with.
std::string EmptyArchiveEnd(std::size_t archive_size);

}  // namespace nxo::test
