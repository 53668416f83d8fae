#include "support/md5.h"

#include <cstring>

#include "support/bytes.h"

namespace nxo {

namespace {

constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

std::uint32_t RotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// The four rounds, written out step by step: the start-up integrity check
// hashes the whole executable, and the unrolled form is about twice as fast
// as a loop that chooses the round function at every step.
inline void Step1(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t m, int s, std::uint32_t k) {
  a = b + RotateLeft(a + (d ^ (b & (c ^ d))) + m + k, s);
}
inline void Step2(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t m, int s, std::uint32_t k) {
  a = b + RotateLeft(a + (c ^ (d & (b ^ c))) + m + k, s);
}
inline void Step3(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t m, int s, std::uint32_t k) {
  a = b + RotateLeft(a + (b ^ c ^ d) + m + k, s);
}
inline void Step4(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t m, int s, std::uint32_t k) {
  a = b + RotateLeft(a + (c ^ (b | ~d)) + m + k, s);
}

}  // namespace

Md5::Md5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476}, buffer_{} {}

void Md5::Transform(const unsigned char block[64]) {
  std::uint32_t m[16];
  for (int i = 0; i < 16; ++i) {
    m[i] = ReadLe32(block + 4 * i);
  }
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  const std::uint32_t* k = kSine;
  for (int i = 0; i < 16; i += 4) {
    Step1(a, b, c, d, m[i], 7, k[i]);
    Step1(d, a, b, c, m[i + 1], 12, k[i + 1]);
    Step1(c, d, a, b, m[i + 2], 17, k[i + 2]);
    Step1(b, c, d, a, m[i + 3], 22, k[i + 3]);
  }
  for (int i = 16; i < 32; i += 4) {
    Step2(a, b, c, d, m[(5 * i + 1) % 16], 5, k[i]);
    Step2(d, a, b, c, m[(5 * i + 6) % 16], 9, k[i + 1]);
    Step2(c, d, a, b, m[(5 * i + 11) % 16], 14, k[i + 2]);
    Step2(b, c, d, a, m[(5 * i + 16) % 16], 20, k[i + 3]);
  }
  for (int i = 32; i < 48; i += 4) {
    Step3(a, b, c, d, m[(3 * i + 5) % 16], 4, k[i]);
    Step3(d, a, b, c, m[(3 * i + 8) % 16], 11, k[i + 1]);
    Step3(c, d, a, b, m[(3 * i + 11) % 16], 16, k[i + 2]);
    Step3(b, c, d, a, m[(3 * i + 14) % 16], 23, k[i + 3]);
  }
  for (int i = 48; i < 64; i += 4) {
    Step4(a, b, c, d, m[(7 * i) % 16], 6, k[i]);
    Step4(d, a, b, c, m[(7 * i + 7) % 16], 10, k[i + 1]);
    Step4(c, d, a, b, m[(7 * i + 14) % 16], 15, k[i + 2]);
    Step4(b, c, d, a, m[(7 * i + 21) % 16], 21, k[i + 3]);
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void Md5::Update(const unsigned char* data, std::size_t size) {
  std::size_t used = static_cast<std::size_t>(length_ % 64);
  length_ += size;
  if (used != 0) {
    const std::size_t take = size < 64 - used ? size : 64 - used;
    std::memcpy(buffer_ + used, data, take);
    data += take;
    size -= take;
    if (used + take < 64) return;
    Transform(buffer_);
  }
  for (; size >= 64; data += 64, size -= 64) Transform(data);
  if (size != 0) std::memcpy(buffer_, data, size);
}

void Md5::UpdateZeros(std::uint64_t count) {
  static const unsigned char kZeros[256] = {};
  while (count != 0) {
    const std::size_t take = count < sizeof kZeros ? static_cast<std::size_t>(count) : sizeof kZeros;
    Update(kZeros, take);
    count -= take;
  }
}

void Md5::Final(unsigned char out[kDigestSize]) {
  const std::uint64_t bit_length = length_ * 8;
  static const unsigned char kPadding[64] = {0x80};
  const std::size_t used = static_cast<std::size_t>(length_ % 64);
  Update(kPadding, used < 56 ? 56 - used : 120 - used);
  unsigned char length_bytes[8];
  for (int i = 0; i < 8; ++i) length_bytes[i] = static_cast<unsigned char>(bit_length >> (8 * i));
  Update(length_bytes, 8);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<unsigned char>(state_[i] >> (8 * j));
}

std::string Md5Hex(std::string_view data) {
  Md5 md5;
  md5.Update(reinterpret_cast<const unsigned char*>(data.data()), data.size());
  unsigned char digest[Md5::kDigestSize];
  md5.Final(digest);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : digest) {
    hex.push_back(kHex[byte >> 4]);
    hex.push_back(kHex[byte & 15]);
  }
  return hex;
}

}  // namespace nxo
