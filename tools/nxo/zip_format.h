// The ZIP records the payload archive uses: local headers, central-directory
// headers and the end record, and for more than 65,534 entries the ZIP64 end
// record and its locator. Sizes and offsets stay 32 bits: the launcher counts
// the whole executable in 32 bits. Readers accept ZIP64 inputs whose values
// fit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/nxo/status.h"

namespace nxo::tool::zip {

inline constexpr std::uint32_t kLocalSignature = 0x04034B50;
inline constexpr std::uint32_t kCentralSignature = 0x02014B50;
inline constexpr std::uint32_t kEndSignature = 0x06054B50;
inline constexpr std::uint32_t kLocalHeaderSize = 30;
inline constexpr std::uint32_t kCentralHeaderSize = 46;
inline constexpr std::uint32_t kEndRecordSize = 22;
inline constexpr std::uint32_t kZip64EndSignature = 0x06064B50;
inline constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
inline constexpr std::uint32_t kZip64EndSize = 56;
inline constexpr std::uint32_t kZip64LocatorSize = 20;
inline constexpr std::uint16_t kZip64ExtraTag = 0x0001;
// The central-directory extra field that marks a nested jar for unpacking
// ("NX" in file order); its data is the MD5 of the jar's bytes.
inline constexpr std::uint16_t kUnpackExtraTag = 0x584E;
inline constexpr std::uint16_t kStored = 0;
inline constexpr std::uint16_t kDeflated = 8;
inline constexpr std::uint16_t kFlagDataDescriptor = 1 << 3;
inline constexpr std::uint16_t kFlagUtf8 = 1 << 11;
inline constexpr std::uint64_t kMax32 = 0xFFFFFFFFull;
// From this many entries on, the end record's 16-bit count holds 0xFFFF and
// the ZIP64 end record the real count (the JDK's writer does the same).
inline constexpr std::uint64_t kZip64Entries = 0xFFFF;

struct Entry {
  std::string name;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint16_t dos_time = 0;
  std::uint16_t dos_date = 0;
  std::uint32_t crc = 0;
  std::uint32_t compressed_size = 0;
  std::uint32_t size = 0;
  std::uint32_t local_offset = 0;     // as stored: from the archive's start
  std::uint64_t data_position = 0;    // in the file that was read
  std::string central_extra;          // extra field of the central-directory header only

  bool IsDirectory() const { return !name.empty() && name.back() == '/'; }
};

struct Directory {
  std::uint64_t archive_start = 0;  // end record - directory size - directory offset
  std::uint64_t end_record = 0;     // position of the end record in the file
  std::uint64_t tail_length = 0;    // bytes after the end record's fixed part
  std::vector<Entry> entries;
};

// Reads the central directory of the ZIP archive that ends |data| (bytes
// before the archive, and an archive comment or other bytes after the end
// record, are allowed). Fails for anything that is not a readable plain ZIP.
Status ReadDirectory(const unsigned char* data, std::uint64_t size, Directory& directory);

const char* MethodName(std::uint16_t method);

}  // namespace nxo::tool::zip
