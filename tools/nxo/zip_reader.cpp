#include <cstring>

#include "support/bytes.h"
#include "tools/nxo/zip_format.h"

namespace nxo::tool::zip {

namespace {

std::uint64_t Le64(const unsigned char* p) {
  return static_cast<std::uint64_t>(ReadLe32(p)) | static_cast<std::uint64_t>(ReadLe32(p + 4)) << 32;
}

// What an end record says, with the ZIP64 end record's values where it has
// one. |directory_end| is where the central directory ends: the end record,
// or the ZIP64 end record before it.
struct EndValues {
  std::uint64_t count = 0;
  std::uint64_t directory_size = 0;
  std::uint64_t directory_offset = 0;
  std::uint64_t directory_end = 0;
  bool multi_volume = false;
};

// The ZIP64 end record that a locator right before the end record at |end|
// names. The locator's offset counts from the file's start in archives the
// JDK writes standing alone and in the executables nxo writes; where it
// counts from the archive's start instead, the record is found right before
// the locator.
bool FindZip64End(const unsigned char* data, std::uint64_t end, std::uint64_t& record) {
  if (end < kZip64LocatorSize + kZip64EndSize) return false;
  const std::uint64_t locator = end - kZip64LocatorSize;
  if (ReadLe32(data + locator) != kZip64LocatorSignature) return false;
  const std::uint64_t named = Le64(data + locator + 8);
  const std::uint64_t before = locator - kZip64EndSize;
  for (std::uint64_t candidate : {named, before}) {
    if (candidate <= locator - kZip64EndSize && ReadLe32(data + candidate) == kZip64EndSignature) {
      record = candidate;
      return true;
    }
  }
  return false;
}

bool ReadEndValues(const unsigned char* data, std::uint64_t end, EndValues& values) {
  const unsigned char* p = data + end;
  values.count = ReadLe16(p + 10);
  values.directory_size = ReadLe32(p + 12);
  values.directory_offset = ReadLe32(p + 16);
  values.directory_end = end;
  values.multi_volume = ReadLe16(p + 4) != 0 || ReadLe16(p + 6) != 0 || ReadLe16(p + 8) != ReadLe16(p + 10);
  std::uint64_t record = 0;
  if (FindZip64End(data, end, record)) {
    const unsigned char* r = data + record;
    values.count = Le64(r + 32);
    values.directory_size = Le64(r + 40);
    values.directory_offset = Le64(r + 48);
    values.directory_end = record;
    values.multi_volume = ReadLe32(r + 16) != 0 || ReadLe32(r + 20) != 0 || Le64(r + 24) != values.count;
    return true;
  }
  // Without ZIP64 records, 0xFFFF is just the count 65,535; but no plain
  // archive has a size or offset of 2^32 - 1.
  return values.directory_size != kMax32 && values.directory_offset != kMax32;
}

// The last end record whose central directory checks out. The search covers
// the largest archive comment (65,535 bytes) plus a little: a signed
// executable carries its signature after the archive.
bool FindEndRecord(const unsigned char* data, std::uint64_t size, std::uint64_t& at) {
  if (size < kEndRecordSize) return false;
  const std::uint64_t window = 0xFFFF + 0x10000;
  const std::uint64_t lowest = size - kEndRecordSize > window ? size - kEndRecordSize - window : 0;
  for (std::uint64_t candidate = size - kEndRecordSize + 1; candidate-- > lowest;) {
    const unsigned char* p = data + candidate;
    if (ReadLe32(p) != kEndSignature) continue;
    EndValues values;
    if (!ReadEndValues(data, candidate, values)) continue;
    if (values.directory_size > values.directory_end ||
        values.directory_offset > values.directory_end - values.directory_size)
      continue;
    const std::uint64_t directory = values.directory_end - values.directory_size;
    if (values.count != 0 && (directory + 4 > size || ReadLe32(data + directory) != kCentralSignature))
      continue;
    at = candidate;
    return true;
  }
  return false;
}

// Replaces the 32-bit fields that hold 2^32 - 1 by the values of the entry's
// ZIP64 extra field, in the order the format gives them. False when a value
// is missing or does not fit the 32 bits the payload uses.
bool ApplyZip64Extra(const unsigned char* extra, std::uint16_t length, Entry& entry) {
  std::uint32_t* fields[] = {&entry.size, &entry.compressed_size, &entry.local_offset};
  for (std::uint32_t at = 0; at + 4 <= length;) {
    const std::uint16_t tag = ReadLe16(extra + at), size = ReadLe16(extra + at + 2);
    if (at + 4 + size > length) break;
    if (tag == kZip64ExtraTag) {
      std::uint32_t read = 0;
      for (std::uint32_t* field : fields) {
        if (*field != kMax32) continue;
        if (read + 8 > size) return false;
        const std::uint64_t value = Le64(extra + at + 4 + read);
        read += 8;
        if (value >= kMax32) return false;
        *field = static_cast<std::uint32_t>(value);
      }
      return true;
    }
    at += 4 + size;
  }
  return false;
}

}  // namespace

Status ReadDirectory(const unsigned char* data, std::uint64_t size, Directory& directory) {
  std::uint64_t end = 0;
  if (!FindEndRecord(data, size, end)) return Status::Error("no ZIP end-of-central-directory record");
  EndValues values;
  ReadEndValues(data, end, values);
  if (values.multi_volume) return Status::Error("a multi-volume ZIP archive");
  directory.end_record = end;
  directory.tail_length = size - end - kEndRecordSize;
  directory.archive_start = values.directory_end - values.directory_size - values.directory_offset;
  directory.entries.clear();
  const std::uint64_t count = values.count;
  // Each entry takes at least a directory header: a count beyond that is damage.
  if (count > values.directory_size / kCentralHeaderSize)
    return Status::Error("a damaged central directory (it cannot hold " + std::to_string(count) + " entries)");
  directory.entries.reserve(count);
  end = values.directory_end;

  std::uint64_t at = end - values.directory_size;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (at + kCentralHeaderSize > end || ReadLe32(data + at) != kCentralSignature)
      return Status::Error("a damaged central directory (entry " + std::to_string(i) + ")");
    const unsigned char* h = data + at;
    Entry entry;
    entry.flags = ReadLe16(h + 8);
    entry.method = ReadLe16(h + 10);
    entry.dos_time = ReadLe16(h + 12);
    entry.dos_date = ReadLe16(h + 14);
    entry.crc = ReadLe32(h + 16);
    entry.compressed_size = ReadLe32(h + 20);
    entry.size = ReadLe32(h + 24);
    const std::uint16_t name_length = ReadLe16(h + 28), extra_length = ReadLe16(h + 30),
                        comment_length = ReadLe16(h + 32);
    entry.local_offset = ReadLe32(h + 42);
    const std::uint64_t next = at + kCentralHeaderSize + name_length + extra_length + comment_length;
    if (next > end) return Status::Error("a damaged central directory (entry " + std::to_string(i) + ")");
    entry.name.assign(reinterpret_cast<const char*>(h + kCentralHeaderSize), name_length);
    if ((entry.compressed_size == kMax32 || entry.size == kMax32 || entry.local_offset == kMax32) &&
        !ApplyZip64Extra(h + kCentralHeaderSize + name_length, extra_length, entry))
      return Status::Error("entry " + Quoted(entry.name) + " is 4 GiB or more, or lies beyond 4 GiB");

    const std::uint64_t local = directory.archive_start + entry.local_offset;
    if (local + kLocalHeaderSize > size || ReadLe32(data + local) != kLocalSignature)
      return Status::Error("no local header for " + Quoted(entry.name));
    entry.data_position = local + kLocalHeaderSize + ReadLe16(data + local + 26) + ReadLe16(data + local + 28);
    if (entry.data_position + entry.compressed_size > size)
      return Status::Error("entry " + Quoted(entry.name) + " runs past the end of the file");
    directory.entries.push_back(std::move(entry));
    at = next;
  }
  return Status::Ok();
}

const char* MethodName(std::uint16_t method) {
  switch (method) {
    case kStored: return "stored";
    case kDeflated: return "deflated";
    default: return "other";
  }
}

}  // namespace nxo::tool::zip
