#include "tools/nxo/files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace nxo::tool {

namespace {

constexpr std::size_t kBufferSize = 1 << 20;

Status FromErrno(const std::string& what, const std::string& path) {
  return Status::Error(what + " " + Quoted(path) + ": " + std::strerror(errno));
}

}  // namespace

MappedFile::~MappedFile() { Release(); }

MappedFile::MappedFile(MappedFile&& other) noexcept : data_(other.data_), size_(other.size_) {
  other.data_ = nullptr;
  other.size_ = 0;
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

void MappedFile::Release() {
  if (data_ != nullptr) munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

Status MappedFile::Open(const std::string& path) {
  Release();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FromErrno("cannot read", path);
  struct stat info;
  if (fstat(fd, &info) != 0) {
    Status status = FromErrno("cannot read", path);
    close(fd);
    return status;
  }
  if (!S_ISREG(info.st_mode)) {
    close(fd);
    return Status::Error("cannot read " + Quoted(path) + ": not a regular file");
  }
  if (info.st_size > 0) {
    void* mapped = mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapped == MAP_FAILED) {
      Status status = FromErrno("cannot read", path);
      close(fd);
      return status;
    }
    data_ = static_cast<unsigned char*>(mapped);
    size_ = static_cast<std::uint64_t>(info.st_size);
  }
  close(fd);
  return Status::Ok();
}

Status ReadWholeFile(const std::string& path, std::string& bytes) {
  MappedFile file;
  NXO_RETURN_IF_ERROR(file.Open(path));
  bytes.assign(reinterpret_cast<const char*>(file.data()), static_cast<std::size_t>(file.size()));
  return Status::Ok();
}

Status ReadInputFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FromErrno("cannot read", path);
  struct stat info;
  if (fstat(fd, &info) != 0) {
    Status status = FromErrno("cannot read", path);
    close(fd);
    return status;
  }
  if (S_ISDIR(info.st_mode) || S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
    close(fd);
    return Status::Error("cannot read " + Quoted(path) + (S_ISDIR(info.st_mode) ? ": it is a directory" : ": it is a device"));
  }
  // A regular file, a pipe (such as "<(command)") or a socket: read to its end.
  char chunk[65536];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      Status status = FromErrno("cannot read", path);
      close(fd);
      return status;
    }
    if (got == 0) break;
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
  close(fd);
  return Status::Ok();
}

namespace {

// The mode a new file gets from the process's umask, read without changing
// it for good.
mode_t ExecutableModeUnderUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0777 & ~mask);
}

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace

OutputFile::~OutputFile() {
  if (fd_ >= 0) {
    close(fd_);
    // An unnamed file vanishes with its descriptor; a named one is removed.
    if (!unnamed_) unlink(temporary_path_.c_str());
  }
}

Status OutputFile::Failure(const char* what) const {
  return Status::Error(std::string("cannot ") + what + " " + Quoted(final_path_) + ": " +
                       std::strerror(errno));
}

Status OutputFile::Create(const std::string& final_path) {
  final_path_ = final_path;
  std::filesystem::path target(final_path);
  std::error_code error;
  if (std::filesystem::is_directory(target, error))
    return Status::Error("cannot write " + Quoted(final_path) + ": it is a directory");
  const std::filesystem::path directory =
      target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  // Beside the destination, so that the final rename stays on one file system.
  std::string name(1, '.');
  name += target.filename().string();
  name += ".nxo-XXXXXX";
  temporary_pattern_ = (directory / name).string();
  buffer_.reserve(kBufferSize);
  // Unnamed until it is complete, so that a pack that is killed leaves
  // nothing behind; where the file system cannot do that, a named file.
  fd_ = open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ >= 0) {
    unnamed_ = true;
    temporary_path_ = DescriptorPath(fd_);
    return Status::Ok();
  }
  std::string pattern = temporary_pattern_;
  fd_ = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) return Failure("write");
  temporary_path_ = pattern;
  return Status::Ok();
}

Status OutputFile::LinkUnnamed() {
  // linkat cannot replace a file: give it a fresh hidden name, then rename
  // that over the destination as for a named temporary file.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = temporary_pattern_;
    candidate.replace(candidate.size() - 6, 6, std::to_string(getpid() % 1000) + std::to_string(100 + attempt));
    if (linkat(AT_FDCWD, DescriptorPath(fd_).c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      temporary_path_ = candidate;
      unnamed_ = false;
      return Status::Ok();
    }
    if (errno != EEXIST) return Failure("write");
  }
  return Failure("write");
}

Status OutputFile::WriteFully(const void* data, std::size_t size, std::uint64_t at) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = pwrite(fd_, bytes, size, static_cast<off_t>(at));
    if (written < 0) {
      if (errno == EINTR) continue;
      return Failure("write");
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
    at += static_cast<std::uint64_t>(written);
  }
  return Status::Ok();
}

Status OutputFile::Flush() {
  if (buffer_.empty()) return Status::Ok();
  NXO_RETURN_IF_ERROR(WriteFully(buffer_.data(), buffer_.size(), flushed_));
  flushed_ += buffer_.size();
  buffer_.clear();
  return Status::Ok();
}

Status OutputFile::Write(const void* data, std::size_t size) {
  if (buffer_.size() + size > kBufferSize) {
    NXO_RETURN_IF_ERROR(Flush());
    if (size >= kBufferSize) {
      // Large blocks go straight to the file rather than through the buffer.
      NXO_RETURN_IF_ERROR(WriteFully(data, size, flushed_));
      flushed_ += size;
      position_ += size;
      return Status::Ok();
    }
  }
  buffer_.append(static_cast<const char*>(data), size);
  position_ += size;
  return Status::Ok();
}

Status OutputFile::PatchAt(std::uint64_t position, const void* data, std::size_t size) {
  if (position + size > position_) return Status::Error("internal error: patch past the end of the output");
  const char* bytes = static_cast<const char*>(data);
  // The part that is still in the buffer is patched there, the rest in place.
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint64_t at = position + i;
    if (at >= flushed_) {
      buffer_[static_cast<std::size_t>(at - flushed_)] = bytes[i];
    } else {
      NXO_RETURN_IF_ERROR(WriteFully(bytes + i, 1, at));
    }
  }
  return Status::Ok();
}

Status OutputFile::Commit() {
  NXO_RETURN_IF_ERROR(Flush());
  // Executable by whom the umask allows, as a linker's output is.
  if (fchmod(fd_, ExecutableModeUnderUmask()) != 0) return Failure("write");
  if (unnamed_) NXO_RETURN_IF_ERROR(LinkUnnamed());
  if (close(fd_) != 0) {
    fd_ = -1;
    unlink(temporary_path_.c_str());
    return Failure("write");
  }
  fd_ = -1;
  if (rename(temporary_path_.c_str(), final_path_.c_str()) != 0) {
    Status status = Failure("write");
    unlink(temporary_path_.c_str());
    return status;
  }
  return Status::Ok();
}

std::string ProgramDirectory() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return ".";
  return self.parent_path().string();
}

}  // namespace nxo::tool
