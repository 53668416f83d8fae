// Writes the payload archive into an output file, after whatever the file
// already holds. Offsets in the archive count from its own first byte and
// every entry carries the same fixed time, so the result is a reproducible
// jar. From 65,535 entries on it ends with the ZIP64 end records; anything
// beyond 4 GiB is refused, since the launcher counts the executable in 32 bits.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tools/nxo/files.h"
#include "tools/nxo/zip_format.h"

namespace nxo::tool {

class ZipWriter {
 public:
  // 1980-01-01 00:00:00, the earliest time a ZIP entry can carry.
  static constexpr std::uint16_t kFixedDosDate = (0 << 9) | (1 << 5) | 1;
  static constexpr std::uint16_t kFixedDosTime = 0;

  explicit ZipWriter(OutputFile& out);

  // An empty, stored entry; |name| ends with "/".
  Status AddDirectory(const std::string& name);
  // A file's bytes, stored, read in pieces so that large jars never sit in
  // memory whole. |central_extra| goes into its central-directory header.
  Status AddStoredFile(const std::string& name, const std::string& path, const std::string& central_extra = {});
  Status AddDeflated(const std::string& name, std::string_view bytes);
  // Bytes in memory, stored (method 0).
  Status AddStored(const std::string& name, std::string_view bytes);
  // An entry taken from another archive as it is there: its compressed bytes,
  // method, CRC and sizes.
  Status AddCopied(const std::string& name, const zip::Entry& source, const unsigned char* data);
  // Writes the central directory and the end record.
  Status Finish();

  bool Contains(const std::string& name) const { return names_.count(name) != 0; }
  std::uint64_t ArchiveLength() const { return out_.Position() - archive_start_; }
  const std::vector<zip::Entry>& Entries() const { return entries_; }

 private:
  Status BeginEntry(zip::Entry& entry);
  Status FinishEntry(zip::Entry& entry, std::uint64_t header_position);
  Status CheckOffset(const std::string& what) const;

  OutputFile& out_;
  std::uint64_t archive_start_;
  std::vector<zip::Entry> entries_;
  std::set<std::string> names_;
};

// Raw deflate (no zlib header), as ZIP entries carry it.
Status Deflate(std::string_view bytes, std::string& compressed);

}  // namespace nxo::tool
