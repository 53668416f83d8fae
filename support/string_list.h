// An ordered list of narrow strings kept in one byte buffer.
//
// Every string is stored followed by a 0x00 byte; the list remembers where each
// one starts. Multi-valued configuration keys, class-path pieces, JVM options
// and wildcard matches are collected this way, so the whole list is one
// allocation that can be handed on as an array of C strings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nxo {

class StringList {
 public:
  void Append(std::string_view text);
  void Clear();

  std::size_t Size() const { return offsets_.size(); }
  bool Empty() const { return offsets_.empty(); }

  // The i-th string; valid until the next Append or Clear.
  const char* At(std::size_t i) const { return buffer_.data() + offsets_[i]; }
  std::string_view View(std::size_t i) const;

  // Pointers to every string, in order; valid until the next Append or Clear.
  std::vector<const char*> Pointers() const;

  // The whole buffer: every string followed by its 0x00 byte.
  const std::string& Buffer() const { return buffer_; }
  const std::vector<std::uint32_t>& Offsets() const { return offsets_; }

 private:
  std::string buffer_;
  std::vector<std::uint32_t> offsets_;
};

}  // namespace nxo
