#include "config/payload.h"

#include <algorithm>
#include <cstring>

#include "support/bytes.h"

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

struct ScanWindow {
  std::int64_t highest;  // the last position an end record can start at
  std::int64_t lowest;
};

bool WindowFor(std::uint64_t size, ScanWindow& window) {
  if (size < kEndRecordSize || size > 0xFFFFFFFFull) return false;
  const std::int64_t f = static_cast<std::int64_t>(size);
  const std::int64_t width = f / 100 > 51199 ? f / 100 : 51200;
  window.highest = f - kEndRecordSize;
  window.lowest = f - width - kEndRecordSize;
  if (window.lowest < 0) window.lowest = 0;
  return true;
}

// Searches [lowest, highest] of a piece of the file that starts at |base|
// (and holds three bytes past |highest|), from the end.
std::int64_t ScanBackForEndRecord(const unsigned char* piece, std::int64_t base,
                                  std::int64_t highest, std::int64_t lowest) {
  for (std::int64_t at = highest; at >= lowest; --at) {
    const unsigned char* p = piece + (at - base);
    if (p[0] == 'P' && p[1] == 'K' && p[2] == 5 && p[3] == 6) return at;
  }
  return -1;
}

// What the end record at |record| says of the archive it closes. The packer
// measures the central directory from the archive's start, so in the archive
// of |archive_length| bytes the directory ends right before the end record,
// or before the ZIP64 end record and its locator that an archive of many
// entries carries. A nested jar stored near the end of the archive has an end
// record of its own, but its directory is measured from that jar's start and
// does not fit; neither does a stray signature in an appended tail.
enum class EndRecordFit { kNo, kYes, kIfZip64Locator };

constexpr std::uint32_t kZip64EndSize = 56;
constexpr std::uint32_t kZip64LocatorSize = 20;
constexpr std::uint32_t kEndRecordSignature = 0x06054b50u;
constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50u;
constexpr std::uint32_t kLocalHeaderSize = 30;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50u;
constexpr std::uint32_t kCentralHeaderSize = 46;

EndRecordFit FitOfEndRecord(const unsigned char* record, std::uint32_t archive_length) {
  if (archive_length < kEndRecordSize) return EndRecordFit::kNo;
  const std::uint64_t directory_end =
      std::uint64_t{ReadLe32(record + 16)} + std::uint64_t{ReadLe32(record + 12)};
  const std::uint64_t record_offset = archive_length - kEndRecordSize;
  if (directory_end == record_offset) return EndRecordFit::kYes;
  if (directory_end + kZip64EndSize + kZip64LocatorSize == record_offset)
    return EndRecordFit::kIfZip64Locator;
  return EndRecordFit::kNo;
}

bool IsZip64Locator(const unsigned char* bytes) {
  return bytes[0] == 'P' && bytes[1] == 'K' && bytes[2] == 6 && bytes[3] == 7;
}

// The positions for file size |f|, tail |t|, archive length |a| and the
// length field's value |l|, each checked to lie inside the file.
PayloadLocation LocationFrom(std::uint64_t f, std::uint64_t t, std::uint32_t a, std::uint64_t l) {
  PayloadLocation location;
  const std::uint64_t p = f - t - a - kDigestSize;
  if (l + 4 > p) return location;
  location.valid = true;
  location.file_size = static_cast<std::uint32_t>(f);
  location.tail_length = static_cast<std::uint32_t>(t);
  location.archive_start = static_cast<std::uint32_t>(f - t - a);
  location.payload_position = static_cast<std::uint32_t>(p);
  location.config_length = static_cast<std::uint32_t>(l);
  location.config_start = static_cast<std::uint32_t>(p - 4 - l);
  return location;
}

// Whether a payload of archive length |a| can sit in a file of size |f| with
// tail |t|: everything is computed in 64 bits so that nothing wraps around.
bool TrailerFits(std::uint64_t f, std::uint64_t t, std::uint32_t a) {
  return a != 0 && t + a + kDigestSize + 4 <= f;
}

}  // namespace

std::uint32_t FindTailLength(const unsigned char* data, std::uint64_t size) {
  ScanWindow window;
  if (!WindowFor(size, window)) return 0;
  std::int64_t hit = ScanBackForEndRecord(data, 0, window.highest, window.lowest);
  return hit < 0 ? 0 : static_cast<std::uint32_t>(static_cast<std::int64_t>(size) - (hit + kEndRecordSize));
}

PayloadLocation LocatePayload(const unsigned char* data, std::uint64_t size,
                              std::uint32_t archive_length) {
  if (size > 0xFFFFFFFFull) return PayloadLocation();
  // An archive ends with its end record: without one in reach that closes an
  // archive of the recorded length, the archive is not where the record says
  // (something was cut off or appended).
  ScanWindow window;
  if (!WindowFor(size, window)) return PayloadLocation();
  for (std::int64_t at = ScanBackForEndRecord(data, 0, window.highest, window.lowest); at >= 0;
       at = ScanBackForEndRecord(data, 0, at - 1, window.lowest)) {
    const EndRecordFit fit = FitOfEndRecord(data + at, archive_length);
    if (fit == EndRecordFit::kNo) continue;
    if (fit == EndRecordFit::kIfZip64Locator &&
        (at < kZip64LocatorSize || !IsZip64Locator(data + at - kZip64LocatorSize)))
      continue;
    const std::uint64_t t = size - static_cast<std::uint64_t>(at + kEndRecordSize);
    if (!TrailerFits(size, t, archive_length)) return PayloadLocation();
    const std::uint64_t p = size - t - archive_length - kDigestSize;
    return LocationFrom(size, t, archive_length, ReadLe32(data + p - 4));
  }
  return PayloadLocation();
}

namespace {

// The file reader's fit check: the ZIP64 locator, rarely needed, is read on
// its own rather than widening every piece.
bool EndRecordClosesArchive(const platform::RandomAccessFile& file, std::int64_t at,
                            const unsigned char* record, std::uint32_t archive_length) {
  const EndRecordFit fit = FitOfEndRecord(record, archive_length);
  if (fit != EndRecordFit::kIfZip64Locator) return fit == EndRecordFit::kYes;
  if (at < kZip64LocatorSize) return false;
  std::string locator;
  return file.ReadAt(static_cast<std::uint64_t>(at - kZip64LocatorSize), 4, locator) &&
         IsZip64Locator(reinterpret_cast<const unsigned char*>(locator.data()));
}

}  // namespace

PayloadLocation LocatePayloadInFile(const platform::RandomAccessFile& file,
                                    std::uint32_t archive_length, std::string& config_bytes) {
  config_bytes.clear();
  const std::uint64_t size = file.Size();
  if (archive_length == 0 || size > 0xFFFFFFFFull) return PayloadLocation();

  // The end record normally closes the file, so the tail is read backwards a
  // piece at a time rather than all of the window at once.
  std::uint64_t t = 0;
  bool found = false;
  ScanWindow window;
  if (WindowFor(size, window)) {
    constexpr std::int64_t kPiece = 64 * 1024;
    std::string piece;
    for (std::int64_t highest = window.highest; highest >= window.lowest && !found;
         highest -= kPiece) {
      const std::int64_t lowest = std::max(window.lowest, highest - kPiece + 1);
      if (!file.ReadAt(static_cast<std::uint64_t>(lowest),
                       static_cast<std::size_t>(highest - lowest + kEndRecordSize), piece))
        return PayloadLocation();
      const auto* bytes = reinterpret_cast<const unsigned char*>(piece.data());
      for (std::int64_t hit = ScanBackForEndRecord(bytes, lowest, highest, lowest); hit >= 0;
           hit = ScanBackForEndRecord(bytes, lowest, hit - 1, lowest)) {
        if (EndRecordClosesArchive(file, hit, bytes + (hit - lowest), archive_length)) {
          t = size - static_cast<std::uint64_t>(hit + kEndRecordSize);
          found = true;
          break;
        }
      }
    }
  }
  if (!found) return PayloadLocation();
  if (!TrailerFits(size, t, archive_length)) return PayloadLocation();

  const std::uint64_t p = size - t - archive_length - kDigestSize;
  std::string length_field;
  if (!file.ReadAt(p - 4, 4, length_field)) return PayloadLocation();
  PayloadLocation location = LocationFrom(
      size, t, archive_length, ReadLe32(reinterpret_cast<const unsigned char*>(length_field.data())));
  if (location.valid &&
      file.ReadAt(location.config_start, location.config_length, config_bytes)) {
    std::string::size_type zero = config_bytes.find('\0');
    if (zero != std::string::npos) config_bytes.resize(zero);
  }
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

bool ReadLeadingStoredEntry(const platform::RandomAccessFile& file, std::uint64_t archive_start,
                            std::string_view name, std::string& bytes) {
  constexpr std::string_view kLeadingPrefix = "META-INF/nxo/";
  constexpr int kMostLeadingEntries = 8;
  std::uint64_t at = archive_start;
  std::string header;
  std::string entry_name;
  for (int entry = 0; entry < kMostLeadingEntries; ++entry) {
    if (!file.ReadAt(at, kLocalHeaderSize, header)) return false;
    const unsigned char* h = reinterpret_cast<const unsigned char*>(header.data());
    if (ReadLe32(h) != kLocalHeaderSignature) return false;
    const std::uint32_t flags = ReadLe16(h + 6);
    const std::uint32_t method = ReadLe16(h + 8);
    const std::uint32_t compressed = ReadLe32(h + 18);
    const std::uint32_t uncompressed = ReadLe32(h + 22);
    const std::uint32_t name_length = ReadLe16(h + 26);
    const std::uint32_t extra_length = ReadLe16(h + 28);
    if (!file.ReadAt(at + kLocalHeaderSize, name_length, entry_name)) return false;
    if (entry_name.compare(0, kLeadingPrefix.size(), kLeadingPrefix) != 0) return false;
    const std::uint64_t data_start = at + kLocalHeaderSize + name_length + extra_length;
    // A data descriptor (flag bit 3) would leave the sizes out of the header.
    const bool usable = method == 0 && (flags & 8u) == 0 && compressed == uncompressed;
    if (entry_name == name) return usable && file.ReadAt(data_start, compressed, bytes);
    if ((flags & 8u) != 0) return false;
    at = data_start + compressed;
  }
  return false;
}

bool ReadArchiveDirectory(const platform::RandomAccessFile& file, std::uint64_t archive_start,
                          std::uint32_t archive_length, std::size_t most_bytes,
                          std::string& directory) {
  if (archive_length < kEndRecordSize) return false;
  std::string end;
  if (!file.ReadAt(archive_start + archive_length - kEndRecordSize, kEndRecordSize, end))
    return false;
  const auto* e = reinterpret_cast<const unsigned char*>(end.data());
  // The directory ends where the end record (or a ZIP64 end record) begins.
  if (ReadLe32(e) != kEndRecordSignature || FitOfEndRecord(e, archive_length) == EndRecordFit::kNo)
    return false;
  return file.ReadAt(archive_start + ReadLe32(e + 16),
                     std::min<std::size_t>(ReadLe32(e + 12), most_bytes), directory);
}

bool FindArchiveEntry(std::string_view directory, std::string_view name, ArchiveEntry& entry) {
  const auto* d = reinterpret_cast<const unsigned char*>(directory.data());
  for (std::size_t at = 0; directory.size() - at >= kCentralHeaderSize &&
                           ReadLe32(d + at) == kCentralHeaderSignature;) {
    const unsigned char* h = d + at;
    const std::size_t name_length = ReadLe16(h + 28);
    const std::size_t next =
        at + kCentralHeaderSize + name_length + ReadLe16(h + 30) + ReadLe16(h + 32);
    if (next > directory.size()) return false;
    if (directory.substr(at + kCentralHeaderSize, name_length) == name) {
      entry.method = ReadLe16(h + 10);
      entry.compressed_size = ReadLe32(h + 20);
      entry.size = ReadLe32(h + 24);
      entry.local_header = ReadLe32(h + 42);
      return true;
    }
    at = next;
  }
  return false;
}

bool ReadArchiveEntryData(const platform::RandomAccessFile& file, std::uint64_t archive_start,
                          std::uint32_t archive_length, const ArchiveEntry& entry,
                          std::string& bytes) {
  std::string header;
  if (archive_length < kLocalHeaderSize || entry.local_header > archive_length - kLocalHeaderSize ||
      !file.ReadAt(archive_start + entry.local_header, kLocalHeaderSize, header))
    return false;
  const auto* h = reinterpret_cast<const unsigned char*>(header.data());
  if (ReadLe32(h) != kLocalHeaderSignature) return false;
  const std::uint64_t data =
      std::uint64_t{entry.local_header} + kLocalHeaderSize + ReadLe16(h + 26) + ReadLe16(h + 28);
  if (data + entry.compressed_size > archive_length) return false;
  return file.ReadAt(archive_start + data, entry.compressed_size, bytes);
}

}  // namespace nxo::config
