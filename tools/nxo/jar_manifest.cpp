#include "tools/nxo/jar_manifest.h"

#include <zlib.h>

#include <vector>

#include "support/text.h"

namespace nxo::tool {

namespace {

constexpr char kManifestName[] = "META-INF/MANIFEST.MF";
constexpr std::uint32_t kManifestSizeLimit = 16 << 20;

Status EntryBytes(const unsigned char* jar, std::uint64_t size, const zip::Entry& entry, std::string& bytes) {
  if (entry.data_position > size || entry.compressed_size > size - entry.data_position)
    return Status::Error("entry " + Quoted(entry.name) + " lies outside the file");
  if (entry.size > kManifestSizeLimit) return Status::Error("entry " + Quoted(entry.name) + " is too large");
  const unsigned char* data = jar + entry.data_position;
  if (entry.method == zip::kStored) {
    bytes.assign(reinterpret_cast<const char*>(data), entry.compressed_size);
    return Status::Ok();
  }
  if (entry.method != zip::kDeflated)
    return Status::Error("entry " + Quoted(entry.name) + " uses compression method " + std::to_string(entry.method));
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return Status::Error("cannot start inflating");
  bytes.assign(entry.size, '\0');
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = entry.compressed_size;
  stream.next_out = reinterpret_cast<Bytef*>(bytes.data());
  stream.avail_out = entry.size;
  const int result = inflate(&stream, Z_FINISH);
  const bool whole = result == Z_STREAM_END && stream.total_out == entry.size;
  inflateEnd(&stream);
  if (!whole) return Status::Error("entry " + Quoted(entry.name) + " does not inflate to its size");
  return Status::Ok();
}

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

}  // namespace

std::string ManifestMainClass(const std::string& manifest) {
  // Lines end in CR LF, LF or CR; a line that begins with one space continues
  // the one before; the main section ends at the first empty line.
  std::vector<std::string> headers;
  std::size_t at = 0;
  while (at < manifest.size()) {
    std::size_t end = manifest.find_first_of("\r\n", at);
    if (end == std::string::npos) end = manifest.size();
    const std::string line = manifest.substr(at, end - at);
    at = end;
    if (at < manifest.size() && manifest[at] == '\r') ++at;
    if (at < manifest.size() && manifest[at] == '\n') ++at;
    if (line.empty()) break;
    if (line[0] == ' ' && !headers.empty()) {
      headers.back() += line.substr(1);
    } else {
      headers.push_back(line);
    }
  }
  for (const std::string& header : headers) {
    const std::size_t colon = header.find(':');
    if (colon != std::string::npos && EqualsIgnoreCase(header.substr(0, colon), "Main-Class"))
      return Trim(header.substr(colon + 1));
  }
  return std::string();
}

Status ReadManifestMainClass(const unsigned char* jar, std::uint64_t size, const zip::Directory& directory,
                             std::string& main_class) {
  main_class.clear();
  for (const zip::Entry& entry : directory.entries) {
    if (!EqualsIgnoreCase(entry.name, kManifestName)) continue;
    std::string manifest;
    NXO_RETURN_IF_ERROR(EntryBytes(jar, size, entry, manifest));
    main_class = ManifestMainClass(manifest);
    return Status::Ok();
  }
  return Status::Ok();
}

}  // namespace nxo::tool
