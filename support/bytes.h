// Integers in byte buffers: the one reader and writer of every binary field
// the launcher and the packager handle (the payload trailer and record, PE
// and ELF headers, ZIP records, registry values, MD5 blocks, UTF-16 text).
// Little-endian unless named otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace nxo {

inline std::uint16_t ReadLe16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline std::uint32_t ReadLe32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The big-endian forms, for the few fields that have them (UTF-16 BE text,
// REG_DWORD_BIG_ENDIAN values).
inline std::uint16_t ReadBe16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

inline std::uint32_t ReadBe32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

// Stores |value| at |p|, lowest byte first.
inline void WriteLe16(unsigned char* p, std::uint16_t value) {
  p[0] = static_cast<unsigned char>(value & 0xFF);
  p[1] = static_cast<unsigned char>(value >> 8);
}

inline void WriteLe32(unsigned char* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
}

// Appends |value| in |size| bytes, lowest first.
inline void AppendLe(std::string& out, std::uint32_t value, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

inline void AppendLe16(std::string& out, std::uint16_t value) { AppendLe(out, value, 2); }
inline void AppendLe32(std::string& out, std::uint32_t value) { AppendLe(out, value, 4); }

}  // namespace nxo
