// MD5 (RFC 1321), small and self-contained so that the launcher can check its
// own payload digest without asking the operating system for a hash service.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace nxo {

class Md5 {
 public:
  static constexpr std::size_t kDigestSize = 16;

  Md5();
  void Update(const unsigned char* data, std::size_t size);
  // Feeds |count| zero bytes, for ranges the digest treats as blank.
  void UpdateZeros(std::uint64_t count);
  // Writes the digest; the object must not be updated afterwards.
  void Final(unsigned char out[kDigestSize]);

 private:
  void Transform(const unsigned char block[64]);

  std::uint32_t state_[4];
  std::uint64_t length_ = 0;  // bytes fed so far
  unsigned char buffer_[64];
};

// The digest of |data| as 32 lower-case hex digits.
std::string Md5Hex(std::string_view data);

}  // namespace nxo
