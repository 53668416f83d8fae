// The portable part of the platform: bookkeeping that reads the same on every
// operating system, written once over what each platform file provides.
#include "platform/platform.h"
#include "platform/system_text.h"

namespace nxo::platform {

MappedFile::~MappedFile() { Close(); }

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(other.data_), size_(other.size_), mapping_(other.mapping_) {
  other.data_ = nullptr;
  other.size_ = 0;
  other.mapping_ = nullptr;
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    Close();
    data_ = other.data_;
    size_ = other.size_;
    mapping_ = other.mapping_;
    other.data_ = nullptr;
    other.size_ = 0;
    other.mapping_ = nullptr;
  }
  return *this;
}

void MappedFile::Close() {
  if (mapping_ != nullptr) ReleaseMapping(mapping_, size_);
  data_ = nullptr;
  size_ = 0;
  mapping_ = nullptr;
}

std::string LastErrorText(const std::string& insert) {
  std::string text = LastSystemErrorText();
  for (std::string::size_type at = text.find("%1"); at != std::string::npos;
       at = text.find("%1", at + insert.size()))
    text.replace(at, 2, insert);
  return text;
}

}  // namespace nxo::platform
