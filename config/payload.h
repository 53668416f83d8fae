// Where the payload sits in an executable file.
//
// File layout, from the end of the program image:
//   configuration block (L bytes) | L (4 bytes, LE) | digest (16 bytes) |
//   archive (A bytes, ends with the ZIP end record) | tail (T bytes)
// A is not in the file: the packager stores it in the PayloadRecord inside the
// program's initialised data.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace nxo::config {

// The record the packager patches, found in the stub by its magic. Keep it in
// sync with tools/ and docs/file-format.md.
struct PayloadRecord {
  unsigned char magic[16];
  std::uint32_t archive_length;  // A; 0 means "no payload"
  std::uint32_t flags;           // kFlagVerifyIntegrity
};
static_assert(sizeof(PayloadRecord) == 24);

inline constexpr std::uint32_t kFlagVerifyIntegrity = 1;
inline constexpr std::uint32_t kDigestSize = 16;
inline constexpr std::uint32_t kEndRecordSize = 22;

// The record of this executable.
std::uint32_t RecordedArchiveLength();
std::uint32_t RecordedFlags();

// Positions derived from a file's bytes and an archive length. Every field is
// checked to lie inside the file; |valid| is false otherwise.
struct PayloadLocation {
  bool valid = false;
  std::uint32_t file_size = 0;        // F
  std::uint32_t tail_length = 0;      // T
  std::uint32_t archive_start = 0;    // F - T - A
  std::uint32_t payload_position = 0; // P = F - T - A - 16, start of the digest
  std::uint32_t config_length = 0;    // L
  std::uint32_t config_start = 0;     // P - 4 - L
};

// Scans backwards for the end-of-central-directory signature over the window
// the reader uses: max(F / 100, 51,200) bytes plus the record. Returns T, or 0
// when there is no signature in the window.
std::uint32_t FindTailLength(const unsigned char* data, std::uint64_t size);

PayloadLocation LocatePayload(const unsigned char* data, std::uint64_t size,
                              std::uint32_t archive_length);

// The same location read from a file without mapping all of it: only the
// scanned tail, the length field and the configuration block are read, so the
// cost does not follow the archive's size. |config_bytes| receives the
// block's bytes up to its first 0x00.
PayloadLocation LocatePayloadInFile(const platform::RandomAccessFile& file,
                                    std::uint32_t archive_length, std::string& config_bytes);

// Names of the splash pictures that a packed Linux executable carries as the
// archive's first entries, stored (method 0), so the launcher reads them in
// place without a ZIP reader: the image file for the runtime's splash library
// and the same picture as a BMP file for the launcher's own window.
inline constexpr char kSplashImageEntry[] = "META-INF/nxo/splash.image";
inline constexpr char kSplashBitmapEntry[] = "META-INF/nxo/splash.bmp";

// The bytes of the entry called |name| among the stored entries at the
// start of the archive that begins at |archive_start|. Only the leading run of
// entries whose names begin with "META-INF/nxo/" is looked at, through their
// local headers. False when the entry is not there, is not stored, or does
// not fit in the file.
bool ReadLeadingStoredEntry(const platform::RandomAccessFile& file, std::uint64_t archive_start,
                            std::string_view name, std::string& bytes);

// An entry of the payload's archive as its central directory describes it.
struct ArchiveEntry {
  std::uint32_t method = 0;  // 0 stored, 8 deflated
  std::uint32_t compressed_size = 0;
  std::uint32_t size = 0;
  std::uint32_t local_header = 0;  // from the archive's start
};

// The central directory of the archive of |archive_length| bytes at
// |archive_start|, as far as its first |most_bytes| bytes go (the packager
// writes the support classes near its start). False when the archive ends
// in no end record or its directory does not fit in the archive.
bool ReadArchiveDirectory(const platform::RandomAccessFile& file, std::uint64_t archive_start,
                          std::uint32_t archive_length, std::size_t most_bytes,
                          std::string& directory);

// The entry called |name| in |directory| (as read above); false when the
// directory holds none before it ends or a header is damaged.
bool FindArchiveEntry(std::string_view directory, std::string_view name, ArchiveEntry& entry);

// The bytes of |entry| as they are stored (deflated ones still deflated),
// found through its local header. False when they do not fit in the archive.
bool ReadArchiveEntryData(const platform::RandomAccessFile& file, std::uint64_t archive_start,
                          std::uint32_t archive_length, const ArchiveEntry& entry,
                          std::string& bytes);

// The configuration block's bytes up to its first 0x00, or empty when the
// location is not valid.
std::string EmbeddedConfigBytes(const unsigned char* data, const PayloadLocation& location);

}  // namespace nxo::config
