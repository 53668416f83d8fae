#include "config/integrity.h"

#include <algorithm>
#include <cstring>

#include "support/bytes.h"
#include "support/md5.h"

namespace nxo::config {

namespace {

constexpr std::uint64_t kCoffHeaderSize = 20;
constexpr std::uint64_t kChecksumInOptionalHeader = 64;
// The data directory starts at 96 (PE32) or 112 (PE32+); the certificate
// table is its fifth entry, 8 bytes each.
constexpr std::uint64_t kCertificateIndex = 4;

struct ZeroRange {
  std::uint64_t begin;
  std::uint64_t length;
};

}  // namespace

PeHeaderFields FindPeHeaderFields(const unsigned char* file, std::uint64_t size) {
  PeHeaderFields fields;
  if (size < 0x40 || file[0] != 'M' || file[1] != 'Z') return fields;
  const std::uint64_t pe = ReadLe32(file + 0x3C);
  const std::uint64_t optional = pe + 4 + kCoffHeaderSize;
  if (optional + 2 > size) return fields;
  if (std::memcmp(file + pe, "PE\0\0", 4) != 0) return fields;
  const std::uint16_t optional_size = ReadLe16(file + pe + 4 + 16);
  const std::uint16_t magic = ReadLe16(file + optional);
  if (magic != 0x10B && magic != 0x20B) return fields;
  const bool plus = magic == 0x20B;
  const std::uint64_t rva_count_at = plus ? 108 : 92;
  const std::uint64_t directory_at = plus ? 112 : 96;
  if (optional_size < kChecksumInOptionalHeader + 4 || optional + optional_size > size) return fields;
  fields.is_pe = true;
  fields.machine = ReadLe16(file + pe + 4);
  fields.is_pe32_plus = plus;
  fields.checksum_offset = static_cast<std::uint32_t>(optional + kChecksumInOptionalHeader);
  const std::uint64_t entry = directory_at + 8 * kCertificateIndex;
  if (optional_size >= entry + 8 && ReadLe32(file + optional + rva_count_at) > kCertificateIndex) {
    fields.has_certificate_entry = true;
    fields.certificate_entry_offset = static_cast<std::uint32_t>(optional + entry);
  }
  return fields;
}

bool ComputePayloadDigest(const unsigned char* file, std::uint64_t size,
                          const PayloadLocation& location, unsigned char out[kDigestSize]) {
  if (!location.valid || location.file_size != size) return false;
  const std::uint64_t end = static_cast<std::uint64_t>(location.file_size) - location.tail_length;
  if (location.payload_position + kDigestSize > end) return false;

  // At most three ranges, each placed in order as it comes: a sort would
  // instantiate far more code for them.
  ZeroRange zeros[3];
  int count = 0;
  auto add = [&](ZeroRange range) {
    ZeroRange* place = std::upper_bound(zeros, zeros + count, range,
                                        [](const ZeroRange& a, const ZeroRange& b) { return a.begin < b.begin; });
    std::move_backward(place, zeros + count, zeros + count + 1);
    *place = range;
    ++count;
  };
  add({location.payload_position, kDigestSize});
  const PeHeaderFields pe = FindPeHeaderFields(file, size);
  if (pe.is_pe) {
    add({pe.checksum_offset, 4});
    if (pe.has_certificate_entry) add({pe.certificate_entry_offset, 8});
  }

  Md5 md5;
  std::uint64_t at = 0;
  for (int i = 0; i < count; ++i) {
    // Ranges lie in the header or at P; they never overlap, but clamp anyway
    // so that a crafted header cannot make the walk go backwards or past end.
    const std::uint64_t begin = std::max(at, std::min(zeros[i].begin, end));
    const std::uint64_t stop = std::min(zeros[i].begin + zeros[i].length, end);
    md5.Update(file + at, static_cast<std::size_t>(begin - at));
    if (stop > begin) md5.UpdateZeros(stop - begin);
    at = std::max(begin, stop);
  }
  md5.Update(file + at, static_cast<std::size_t>(end - at));
  md5.Final(out);
  return true;
}

bool PayloadDigestMatches(const unsigned char* file, std::uint64_t size,
                          const PayloadLocation& location) {
  unsigned char digest[kDigestSize];
  if (!ComputePayloadDigest(file, size, location, digest)) return false;
  return std::memcmp(digest, file + location.payload_position, kDigestSize) == 0;
}

}  // namespace nxo::config
