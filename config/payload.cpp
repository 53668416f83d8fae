#include "config/payload.h"

#include <cstring>

namespace nxo::config {

// The packager finds this record by its magic and stores the archive length
// and flags into its copy of the stub. It must live in initialised data and
// the magic must occur nowhere else in the program, so nothing else in the
// launcher spells it out.
extern "C" {
__attribute__((used)) volatile PayloadRecord nxo_payload_record = {
    {'N', 'X', 'O', '-', 'P', 'A', 'Y', 'L', 'O', 'A', 'D', '-', 'R', 'E', 'C', '1'}, 0, 0};
}

std::uint32_t RecordedArchiveLength() { return nxo_payload_record.archive_length; }
std::uint32_t RecordedFlags() { return nxo_payload_record.flags; }

namespace {

std::uint32_t ReadLe32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

std::uint32_t FindTailLength(const unsigned char* data, std::uint64_t size) {
  if (size < kEndRecordSize || size > 0xFFFFFFFFull) return 0;
  const std::int64_t f = static_cast<std::int64_t>(size);
  const std::int64_t window = f / 100 > 51199 ? f / 100 : 51200;
  std::int64_t lowest = f - window - kEndRecordSize;
  if (lowest < 0) lowest = 0;
  for (std::int64_t at = f - kEndRecordSize; at >= lowest; --at) {
    const unsigned char* p = data + at;
    if (p[0] == 'P' && p[1] == 'K' && p[2] == 5 && p[3] == 6)
      return static_cast<std::uint32_t>(f - (at + kEndRecordSize));
  }
  return 0;
}

PayloadLocation LocatePayload(const unsigned char* data, std::uint64_t size,
                              std::uint32_t archive_length) {
  PayloadLocation location;
  if (archive_length == 0 || size > 0xFFFFFFFFull) return location;
  const std::uint64_t f = size;
  const std::uint64_t t = FindTailLength(data, size);
  // Everything is computed in 64 bits so that no position can wrap around.
  const std::uint64_t trailer = static_cast<std::uint64_t>(archive_length) + kDigestSize + 4;
  if (t + trailer > f) return location;
  const std::uint64_t p = f - t - archive_length - kDigestSize;
  const std::uint64_t l = ReadLe32(data + p - 4);
  if (l + 4 > p) return location;
  location.valid = true;
  location.file_size = static_cast<std::uint32_t>(f);
  location.tail_length = static_cast<std::uint32_t>(t);
  location.archive_start = static_cast<std::uint32_t>(f - t - archive_length);
  location.payload_position = static_cast<std::uint32_t>(p);
  location.config_length = static_cast<std::uint32_t>(l);
  location.config_start = static_cast<std::uint32_t>(p - 4 - l);
  return location;
}

std::string EmbeddedConfigBytes(const unsigned char* data, const PayloadLocation& location) {
  if (!location.valid) return std::string();
  const char* begin = reinterpret_cast<const char*>(data + location.config_start);
  const void* zero = std::memchr(begin, 0, location.config_length);
  std::size_t length =
      zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - begin) : location.config_length;
  return std::string(begin, length);
}

}  // namespace nxo::config
