#include <cstring>

#include "support/bytes.h"
#include "tools/nxo/zip_format.h"

namespace nxo::tool::zip {

namespace {

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
    const std::uint64_t directory_size = ReadLe32(p + 12), directory_offset = ReadLe32(p + 16);
    if (directory_size + directory_offset > candidate) continue;
    const std::uint64_t directory = candidate - directory_size;
    if (ReadLe16(p + 10) != 0 && (directory + 4 > size || ReadLe32(data + directory) != kCentralSignature))
      continue;
    at = candidate;
    return true;
  }
  return false;
}

}  // namespace

Status ReadDirectory(const unsigned char* data, std::uint64_t size, Directory& directory) {
  std::uint64_t end = 0;
  if (!FindEndRecord(data, size, end)) return Status::Error("no ZIP end-of-central-directory record");
  const unsigned char* record = data + end;
  const std::uint16_t count = ReadLe16(record + 10);
  const std::uint32_t directory_size = ReadLe32(record + 12);
  const std::uint32_t directory_offset = ReadLe32(record + 16);
  if (ReadLe16(record + 4) != 0 || ReadLe16(record + 6) != 0 || ReadLe16(record + 8) != count)
    return Status::Error("a multi-volume ZIP archive");
  if (count == 0xFFFF || directory_size == kMax32 || directory_offset == kMax32)
    return Status::Error("a ZIP64 archive");
  directory.end_record = end;
  directory.tail_length = size - end - kEndRecordSize;
  directory.archive_start = end - directory_size - directory_offset;
  directory.entries.clear();
  directory.entries.reserve(count);

  std::uint64_t at = end - directory_size;
  for (std::uint16_t i = 0; i < count; ++i) {
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
    if (entry.compressed_size == kMax32 || entry.size == kMax32 || entry.local_offset == kMax32)
      return Status::Error("a ZIP64 entry " + Quoted(entry.name));

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
