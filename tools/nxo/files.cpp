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

OutputFile::~OutputFile() {
  if (fd_ >= 0) {
    close(fd_);
    unlink(temporary_path_.c_str());
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
  std::string pattern = (directory / name).string();
  fd_ = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) return Failure("write");
  temporary_path_ = pattern;
  buffer_.reserve(kBufferSize);
  return Status::Ok();
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
  if (fchmod(fd_, 0755) != 0) return Failure("write");
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
