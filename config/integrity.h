// The payload digest: what the integrity check at start-up compares with the
// 16 bytes of the digest field, and what the packager writes there.
//
// MD5 over the file from its first byte to the end of the archive's end record
// (the tail is left out), with these bytes counted as zero:
//   - the 16 bytes of the digest field itself;
//   - in a PE file, the optional header's CheckSum and the certificate-table
//     entry of the data directory.
// Authenticode signing after packing changes only those two header fields and
// appends the signature after the archive, so a signed executable still
// verifies.
#pragma once

#include <cstdint>

#include "config/payload.h"

namespace nxo::config {

// Where the two signing-sensitive fields of a PE header lie. |is_pe| is false
// for anything that is not a well-formed PE header (an ELF stub, say).
struct PeHeaderFields {
  bool is_pe = false;
  std::uint16_t machine = 0;                 // 0x14C for 32-bit x86
  bool is_pe32_plus = false;
  std::uint32_t checksum_offset = 0;         // 4 bytes
  bool has_certificate_entry = false;
  std::uint32_t certificate_entry_offset = 0;  // 8 bytes: RVA (file offset) and size
};

PeHeaderFields FindPeHeaderFields(const unsigned char* file, std::uint64_t size);

// Computes the digest of |file| for the payload at |location|. Returns false
// (and leaves |out| alone) when the location is not valid for this file.
bool ComputePayloadDigest(const unsigned char* file, std::uint64_t size,
                          const PayloadLocation& location, unsigned char out[kDigestSize]);

// True when the digest field at |location| holds the file's digest.
bool PayloadDigestMatches(const unsigned char* file, std::uint64_t size,
                          const PayloadLocation& location);

}  // namespace nxo::config
