// Payload location, and entry lookup in a central directory, over arbitrary
// file bytes. The first four bytes are the archive length the record would
// hold; the rest is the file.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "config/payload.h"

using namespace nxo::config;

namespace {

// Every piece of a located payload lies inside the file, in layout order,
// and the pieces fill the file from the configuration block to the end.
void CheckInsideFile(const PayloadLocation& at, std::uint64_t size, std::uint32_t archive_length) {
  if (!at.valid) return;
  if (at.file_size != size) std::abort();
  const std::uint64_t config_end = static_cast<std::uint64_t>(at.config_start) + at.config_length;
  if (config_end + 4 != at.payload_position) std::abort();
  if (static_cast<std::uint64_t>(at.payload_position) + kDigestSize != at.archive_start) std::abort();
  if (static_cast<std::uint64_t>(at.archive_start) + archive_length + at.tail_length != size) std::abort();
  if (archive_length == 0 || at.archive_start >= size) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t archive_length;
  std::memcpy(&archive_length, data, 4);
  // A copy of exactly the file's size, so reads past the end are caught.
  std::vector<unsigned char> file(data + 4, data + size);
  const unsigned char* bytes = file.empty() ? nullptr : file.data();
  PayloadLocation at = LocatePayload(bytes, file.size(), archive_length);
  CheckInsideFile(at, file.size(), archive_length);
  if (at.valid) {
    std::string text = EmbeddedConfigBytes(bytes, at);
    if (text.size() > at.config_length) std::abort();
  }
  // The same bytes as a central directory the launcher looks classes up in:
  // every header it walks must lie inside the bytes read.
  const std::string_view directory(reinterpret_cast<const char*>(bytes), file.size());
  ArchiveEntry entry;
  FindArchiveEntry(directory, "com/tarnwick/nxo/Handler.class", entry);
  FindArchiveEntry(directory, directory.substr(0, 8), entry);
  // Small lengths land on every byte of a short file.
  for (std::uint32_t length = 1; length < 64 && length <= file.size(); ++length)
    CheckInsideFile(LocatePayload(bytes, file.size(), length), file.size(), length);
  return 0;
}
