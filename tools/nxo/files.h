// File access for the packager, a Linux host tool: read-only mappings of
// inputs, and an output that is written to an unnamed (else a hidden)
// temporary file beside its final name and named only once it is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/nxo/status.h"

namespace nxo::tool {

// The whole file, mapped read-only. An empty file maps to no bytes.
class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;

  Status Open(const std::string& path);
  const unsigned char* data() const { return data_; }
  std::uint64_t size() const { return size_; }

 private:
  void Release();
  unsigned char* data_ = nullptr;
  std::uint64_t size_ = 0;
};

// Reads a whole (small) file.
Status ReadWholeFile(const std::string& path, std::string& bytes);

// Reads a whole input that need not be a regular file: a pipe such as a
// shell's "<(command)" is read to its end. Directories and devices are
// refused.
Status ReadInputFile(const std::string& path, std::string& bytes);

// Buffered output with write-behind patching of bytes already written. Until
// Commit() the data lives in a temporary file in the destination's directory;
// destroying the object without a commit removes that file.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  Status Create(const std::string& final_path);
  Status Write(const void* data, std::size_t size);
  Status Write(const std::string& bytes) { return Write(bytes.data(), bytes.size()); }
  // Replaces bytes at an earlier position.
  Status PatchAt(std::uint64_t position, const void* data, std::size_t size);
  Status Flush();
  std::uint64_t Position() const { return position_; }
  const std::string& TemporaryPath() const { return temporary_path_; }
  // Flushes, marks the file executable (as far as the umask allows) and
  // renames it to the final path.
  Status Commit();

 private:
  Status LinkUnnamed();
  Status WriteFully(const void* data, std::size_t size, std::uint64_t at);
  Status Failure(const char* what) const;

  int fd_ = -1;
  std::string final_path_;
  std::string temporary_path_;     // a name, or /proc/self/fd/N while unnamed
  std::string temporary_pattern_;  // where a named temporary file goes
  bool unnamed_ = false;
  std::string buffer_;
  std::uint64_t flushed_ = 0;   // bytes already in the file
  std::uint64_t position_ = 0;  // bytes written, flushed or buffered
};

// The directory that holds the running program, for the stubs and the support
// jar that ship beside it.
std::string ProgramDirectory();

}  // namespace nxo::tool
