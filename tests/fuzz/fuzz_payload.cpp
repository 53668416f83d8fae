// Payload location over arbitrary file bytes. The first four bytes are the
// archive length the record would hold; the rest is the file.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "config/payload.h"

using namespace nxo::config;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t archive_length;
  std::memcpy(&archive_length, data, 4);
  // A copy of exactly the file's size, so reads past the end are caught.
  std::vector<unsigned char> file(data + 4, data + size);
  const unsigned char* bytes = file.empty() ? nullptr : file.data();
  PayloadLocation at = LocatePayload(bytes, file.size(), archive_length);
  if (at.valid) {
    if (at.file_size != file.size()) std::abort();
    if (static_cast<std::uint64_t>(at.config_start) + at.config_length + 4 + kDigestSize +
            archive_length + at.tail_length != file.size())
      std::abort();
    std::string text = EmbeddedConfigBytes(bytes, at);
    if (text.size() > at.config_length) std::abort();
  }
  // Small lengths land on every byte of a short file.
  for (std::uint32_t length = 1; length < 64 && length <= file.size(); ++length)
    LocatePayload(bytes, file.size(), length);
  return 0;
}
