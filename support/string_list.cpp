#include "support/string_list.h"

namespace nxo {

void StringList::Append(std::string_view text) {
  offsets_.push_back(static_cast<std::uint32_t>(buffer_.size()));
  buffer_.append(text);
  buffer_.push_back('\0');
}

void StringList::Clear() {
  // Release the storage as well: an emptied option list starts anew.
  std::string().swap(buffer_);
  std::vector<std::uint32_t>().swap(offsets_);
}

std::string_view StringList::View(std::size_t i) const {
  std::size_t begin = offsets_[i];
  std::size_t end = (i + 1 < offsets_.size()) ? offsets_[i + 1] - 1 : buffer_.size() - 1;
  return std::string_view(buffer_).substr(begin, end - begin);
}

std::vector<const char*> StringList::Pointers() const {
  std::vector<const char*> pointers;
  pointers.reserve(offsets_.size());
  for (std::uint32_t offset : offsets_) pointers.push_back(buffer_.data() + offset);
  return pointers;
}

}  // namespace nxo
