#include "tools/nxo/zip_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>

#include "support/bytes.h"
#include "support/text.h"

namespace nxo::tool {

namespace {

constexpr std::uint16_t kVersionMadeBy = (3 << 8) | 20;  // Unix, ZIP 2.0
constexpr std::uint32_t kDirectoryAttributes = (040755u << 16) | 0x10;
constexpr std::uint32_t kFileAttributes = 0100644u << 16;
constexpr std::size_t kReadSize = 1 << 20;

const char kSizeAdvice[] =
    " would lie beyond 4 GiB; the launcher counts the executable and its archive in 32 bits, so "
    "ZIP64 cannot lift this";

void AppendLe64(std::string& out, std::uint64_t value) {
  AppendLe32(out, static_cast<std::uint32_t>(value));
  AppendLe32(out, static_cast<std::uint32_t>(value >> 32));
}

// The ZIP64 end record and its locator, which go between the central
// directory and the end record. The locator gives the ZIP64 record's position
// from the start of the file, not of the archive: the JDK's reader, which
// opens the executable as a jar, reads it there. It lies right before the
// locator, where readers that count from the archive's start find it too.
std::string Zip64EndRecords(std::uint64_t count, std::uint64_t directory_size, std::uint64_t directory_offset,
                            std::uint64_t record_position) {
  std::string records;
  AppendLe32(records, zip::kZip64EndSignature);
  AppendLe64(records, zip::kZip64EndSize - 12);  // the record's size after this field
  AppendLe16(records, 45);                        // made by: ZIP 4.5
  AppendLe16(records, 45);                        // needed: ZIP 4.5
  AppendLe32(records, 0);                         // this disk
  AppendLe32(records, 0);                         // the directory's disk
  AppendLe64(records, count);
  AppendLe64(records, count);
  AppendLe64(records, directory_size);
  AppendLe64(records, directory_offset);
  AppendLe32(records, zip::kZip64LocatorSignature);
  AppendLe32(records, 0);
  AppendLe64(records, record_position);
  AppendLe32(records, 1);  // disks in all
  return records;
}

std::uint16_t VersionNeeded(const zip::Entry& entry) { return entry.method == zip::kDeflated ? 20 : 10; }

// The fields a local header and its central-directory twin share, from the
// version needed to the name's length.
void PutSharedFields(std::string& header, const zip::Entry& entry) {
  AppendLe16(header, VersionNeeded(entry));
  AppendLe16(header, entry.flags);
  AppendLe16(header, entry.method);
  AppendLe16(header, entry.dos_time);
  AppendLe16(header, entry.dos_date);
  AppendLe32(header, entry.crc);
  AppendLe32(header, entry.compressed_size);
  AppendLe32(header, entry.size);
  AppendLe16(header, static_cast<std::uint16_t>(entry.name.size()));
}

std::string LocalHeader(const zip::Entry& entry) {
  std::string header;
  AppendLe32(header, zip::kLocalSignature);
  PutSharedFields(header, entry);
  AppendLe16(header, 0);
  header += entry.name;
  return header;
}

std::string CentralHeader(const zip::Entry& entry) {
  std::string header;
  AppendLe32(header, zip::kCentralSignature);
  AppendLe16(header, kVersionMadeBy);
  PutSharedFields(header, entry);
  AppendLe16(header, static_cast<std::uint16_t>(entry.central_extra.size()));
  AppendLe16(header, 0);  // comment
  AppendLe16(header, 0);  // disk
  AppendLe16(header, 0);  // internal attributes
  AppendLe32(header, entry.IsDirectory() ? kDirectoryAttributes : kFileAttributes);
  AppendLe32(header, entry.local_offset);
  header += entry.name;
  header += entry.central_extra;
  return header;
}

class InputFd {
 public:
  explicit InputFd(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~InputFd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

Status Deflate(std::string_view bytes, std::string& compressed) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return Status::Error("cannot start the deflate compressor");
  compressed.resize(deflateBound(&stream, static_cast<uLong>(bytes.size())));
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(compressed.data());
  stream.avail_out = static_cast<uInt>(compressed.size());
  const int result = deflate(&stream, Z_FINISH);
  compressed.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) return Status::Error("deflate failed");
  return Status::Ok();
}

ZipWriter::ZipWriter(OutputFile& out) : out_(out), archive_start_(out.Position()) {}

Status ZipWriter::CheckOffset(const std::string& what) const {
  if (ArchiveLength() >= zip::kMax32) return Status::Error(what + kSizeAdvice);
  return Status::Ok();
}

Status ZipWriter::BeginEntry(zip::Entry& entry) {
  if (entry.name.empty() || entry.name.size() > 0xFFFF)
    return Status::Error("bad entry name " + Quoted(entry.name));
  if (!names_.insert(entry.name).second)
    return Status::Error("two inputs give the archive entry " + Quoted(entry.name));
  NXO_RETURN_IF_ERROR(CheckOffset("entry " + Quoted(entry.name)));
  entry.local_offset = static_cast<std::uint32_t>(ArchiveLength());
  entry.dos_time = kFixedDosTime;
  entry.dos_date = kFixedDosDate;
  entry.flags = nxo::HasHighByte(entry.name) ? zip::kFlagUtf8 : 0;
  return out_.Write(LocalHeader(entry));
}

Status ZipWriter::AddDirectory(const std::string& name) {
  zip::Entry entry;
  entry.name = name;
  entry.method = zip::kStored;
  NXO_RETURN_IF_ERROR(BeginEntry(entry));
  entries_.push_back(std::move(entry));
  return Status::Ok();
}

Status ZipWriter::AddDeflated(const std::string& name, std::string_view bytes) {
  if (bytes.size() >= zip::kMax32) return Status::Error("entry " + Quoted(name) + kSizeAdvice);
  std::string compressed;
  NXO_RETURN_IF_ERROR(Deflate(bytes, compressed));
  if (compressed.size() >= zip::kMax32) return Status::Error("entry " + Quoted(name) + kSizeAdvice);
  zip::Entry entry;
  entry.name = name;
  entry.method = zip::kDeflated;
  entry.crc = static_cast<std::uint32_t>(
      crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
  entry.size = static_cast<std::uint32_t>(bytes.size());
  entry.compressed_size = static_cast<std::uint32_t>(compressed.size());
  NXO_RETURN_IF_ERROR(BeginEntry(entry));
  NXO_RETURN_IF_ERROR(out_.Write(compressed));
  entries_.push_back(std::move(entry));
  return Status::Ok();
}

Status ZipWriter::AddStored(const std::string& name, std::string_view bytes) {
  if (bytes.size() >= zip::kMax32) return Status::Error("entry " + Quoted(name) + kSizeAdvice);
  zip::Entry entry;
  entry.name = name;
  entry.method = zip::kStored;
  entry.crc = static_cast<std::uint32_t>(
      crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
  entry.size = entry.compressed_size = static_cast<std::uint32_t>(bytes.size());
  NXO_RETURN_IF_ERROR(BeginEntry(entry));
  NXO_RETURN_IF_ERROR(out_.Write(bytes.data(), bytes.size()));
  entries_.push_back(std::move(entry));
  return Status::Ok();
}

Status ZipWriter::AddCopied(const std::string& name, const zip::Entry& source, const unsigned char* data) {
  zip::Entry entry;
  entry.name = name;
  entry.method = source.method;
  entry.crc = source.crc;
  entry.size = source.size;
  entry.compressed_size = source.compressed_size;
  NXO_RETURN_IF_ERROR(BeginEntry(entry));
  NXO_RETURN_IF_ERROR(out_.Write(data + source.data_position, source.compressed_size));
  entries_.push_back(std::move(entry));
  return Status::Ok();
}

Status ZipWriter::AddStoredFile(const std::string& name, const std::string& path, const std::string& central_extra) {
  if (central_extra.size() > 0xFFFF) return Status::Error("extra field too long for " + Quoted(name));
  InputFd input(path);
  struct stat info;
  if (input.get() < 0 || fstat(input.get(), &info) != 0)
    return Status::Error("cannot read " + Quoted(path) + ": " + std::strerror(errno));
  const std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
  if (size >= zip::kMax32) return Status::Error(Quoted(path) + kSizeAdvice);

  zip::Entry entry;
  entry.name = name;
  entry.method = zip::kStored;
  entry.size = entry.compressed_size = static_cast<std::uint32_t>(size);
  const std::uint64_t header_position = out_.Position();
  NXO_RETURN_IF_ERROR(BeginEntry(entry));

  // The CRC is known only after reading; it is patched into the local header.
  std::string buffer(kReadSize, '\0');
  uLong crc = crc32(0, nullptr, 0);
  std::uint64_t copied = 0;
  for (;;) {
    const ssize_t got = read(input.get(), buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      return Status::Error("cannot read " + Quoted(path) + ": " + std::strerror(errno));
    }
    if (got == 0) break;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(got));
    NXO_RETURN_IF_ERROR(out_.Write(buffer.data(), static_cast<std::size_t>(got)));
    copied += static_cast<std::uint64_t>(got);
  }
  if (copied != size) return Status::Error(Quoted(path) + " changed size while it was being packed");
  entry.crc = static_cast<std::uint32_t>(crc);
  entry.central_extra = central_extra;
  std::string crc_bytes;
  AppendLe32(crc_bytes, entry.crc);
  NXO_RETURN_IF_ERROR(out_.PatchAt(header_position + 14, crc_bytes.data(), crc_bytes.size()));
  entries_.push_back(std::move(entry));
  return Status::Ok();
}

Status ZipWriter::Finish() {
  NXO_RETURN_IF_ERROR(CheckOffset("the central directory"));
  const std::uint64_t directory_offset = ArchiveLength();
  std::string directory;
  for (const zip::Entry& entry : entries_) directory += CentralHeader(entry);
  if (directory_offset + directory.size() + zip::kZip64EndSize + zip::kZip64LocatorSize + zip::kEndRecordSize >=
      zip::kMax32)
    return Status::Error(std::string("the central directory") + kSizeAdvice);
  const bool zip64 = entries_.size() >= zip::kZip64Entries;
  const std::uint16_t count = zip64 ? 0xFFFF : static_cast<std::uint16_t>(entries_.size());
  std::string end;
  if (zip64) end = Zip64EndRecords(entries_.size(), directory.size(), directory_offset,
                                   out_.Position() + directory.size());
  AppendLe32(end, zip::kEndSignature);
  AppendLe16(end, 0);
  AppendLe16(end, 0);
  AppendLe16(end, count);
  AppendLe16(end, count);
  AppendLe32(end, static_cast<std::uint32_t>(directory.size()));
  AppendLe32(end, static_cast<std::uint32_t>(directory_offset));
  AppendLe16(end, 0);  // no comment: the end record is the archive's last 22 bytes
  NXO_RETURN_IF_ERROR(out_.Write(directory));
  return out_.Write(end);
}

}  // namespace nxo::tool
