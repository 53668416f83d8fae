// nxo inspect: what a packed executable holds, read the way the launcher and
// the runtime read it.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "config/integrity.h"
#include "config/payload.h"
#include "support/bytes.h"
#include "tools/nxo/app_resources.h"
#include "tools/nxo/check_runtime.h"
#include "tools/nxo/commands.h"
#include "tools/nxo/files.h"
#include "tools/nxo/pe_resources.h"
#include "tools/nxo/stub.h"
#include "tools/nxo/zip_format.h"

namespace nxo::tool {

const char kInspectHelp[] =
    "Usage: nxo inspect FILE\n"
    "       nxo inspect --check-runtime FILE\n"
    "\n"
    "Shows the target and stub size, the resources of a Windows executable, the\n"
    "embedded configuration, the archive's entries (name, method, sizes), the\n"
    "tail length, and whether the integrity flag is set and the digest matches.\n"
    "\n"
    "  --check-runtime  instead, run the executable's own Java runtime search on\n"
    "                   this machine (a Windows executable under Wine: the wine\n"
    "                   command, or $NXO_WINE) without starting a JVM, and show\n"
    "                   every source and candidate it tried and the runtime chosen\n"
    "\n"
    "Exit code: 0 when the payload is readable, 1 when it is not, 3 when the\n"
    "integrity flag is set but the digest does not match. With --check-runtime:\n"
    "0 when a runtime was found, 1 when not.\n";

namespace {

const char kCommand[] = "inspect";

struct Payload {
  std::uint64_t record = 0;
  std::uint32_t archive_length = 0;
  std::uint32_t flags = 0;
  config::PayloadLocation location;
  zip::Directory directory;
};

Status ReadPayload(const std::string& path, const MappedFile& file, Payload& payload) {
  // The stub comes first, so the first magic is the stub's record even when
  // an application jar happens to carry another launcher.
  if (CountRecordMagic(file.data(), file.size(), payload.record) == 0 ||
      payload.record + 24 > file.size())
    return Status::Error(Quoted(path) + " is not a packed executable (no payload record)");
  payload.archive_length = ReadLe32(file.data() + payload.record + kRecordLengthOffset);
  payload.flags = ReadLe32(file.data() + payload.record + kRecordFlagsOffset);
  if (payload.archive_length == 0) return Status::Error(Quoted(path) + " carries no payload (archive length 0)");
  payload.location = config::LocatePayload(file.data(), file.size(), payload.archive_length);
  if (!payload.location.valid || payload.record >= payload.location.config_start)
    return Status::Error(Quoted(path) + ": the payload does not fit the file (archive length " +
                         std::to_string(payload.archive_length) + ")");
  Status read = zip::ReadDirectory(file.data(), file.size(), payload.directory);
  if (!read.ok()) return Status::Error(Quoted(path) + ": the archive is not readable: " + read.message());
  return Status::Ok();
}

void PrintConfig(const unsigned char* data, const config::PayloadLocation& location) {
  std::string text = config::EmbeddedConfigBytes(data, location);
  const bool bom = text.rfind("\xEF\xBB\xBF", 0) == 0;
  std::printf("config:    %" PRIu32 " bytes at %" PRIu32 "%s\n", location.config_length, location.config_start,
              bom ? ", UTF-8 with byte-order mark" : "");
  if (bom) text.erase(0, 3);
  std::string line;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      if (!line.empty()) std::printf("  %s\n", line.c_str());
      line.clear();
    } else {
      line.push_back(c);
    }
  }
  if (!line.empty()) std::printf("  %s\n", line.c_str());
}

void PrintArchive(const Payload& payload) {
  const zip::Directory& directory = payload.directory;
  std::printf("archive:   %" PRIu32 " bytes at %" PRIu32 ", %zu entries\n", payload.archive_length,
              payload.location.archive_start, directory.entries.size());
  if (directory.archive_start != payload.location.archive_start)
    std::printf("  warning: the ZIP offsets place the archive at %" PRIu64 ", not at %" PRIu32 "\n",
                directory.archive_start, payload.location.archive_start);
  std::printf("  %-8s %10s %10s  %s\n", "method", "size", "compressed", "name");
  for (const zip::Entry& entry : directory.entries)
    std::printf("  %-8s %10" PRIu32 " %10" PRIu32 "  %s\n", zip::MethodName(entry.method), entry.size,
                entry.compressed_size, entry.name.c_str());
}

void PrintResources(const MappedFile& file, std::uint32_t stub_size) {
  pe::ResourceTable table;
  Status read = pe::ReadResources(std::string_view(reinterpret_cast<const char*>(file.data()), stub_size), table);
  if (!read.ok()) {
    std::printf("resources: not readable: %s\n", read.message().c_str());
    return;
  }
  std::printf("resources: %zu\n", table.entries().size());
  for (const std::string& line : DescribeResources(table)) std::printf("  %s\n", line.c_str());
}

int Inspect(const std::string& path, bool check_runtime) {
  MappedFile file;
  Payload payload;
  Status status = file.Open(path);
  if (status.ok()) status = ReadPayload(path, file, payload);
  if (!status.ok()) {
    PrintError(kCommand, status.message());
    return kExitFailure;
  }
  if (check_runtime)
    return CheckRuntime(path, TargetOfImage(file.data(), file.size()) != Target::kLinux);
  const config::PayloadLocation& at = payload.location;
  std::printf("file:      %s (%" PRIu64 " bytes)\n", path.c_str(), file.size());
  std::printf("target:    %s\n", DescribeImage(file.data(), file.size()).c_str());
  std::printf("stub:      %" PRIu32 " bytes (payload record at %" PRIu64 ")\n", at.config_start, payload.record);
  if (config::FindPeHeaderFields(file.data(), file.size()).is_pe) PrintResources(file, at.config_start);
  PrintConfig(file.data(), at);
  PrintArchive(payload);
  std::printf("tail:      %" PRIu32 " bytes\n", at.tail_length);

  const bool flag = (payload.flags & config::kFlagVerifyIntegrity) != 0;
  const bool matches = config::PayloadDigestMatches(file.data(), file.size(), at);
  // Without the flag the packager writes no digest, so there is nothing to
  // compare; say so rather than report a mismatch.
  if (flag)
    std::printf("integrity: flag set, digest %s\n", matches ? "matches" : "does not match");
  else
    std::printf("integrity: flag clear, not checked at start (digest %s)\n",
                matches ? "matches" : "not written");
  return flag && !matches ? kExitDigestMismatch : kExitOk;
}

}  // namespace

int RunInspect(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  bool check_runtime = false;
  for (const std::string& arg : args) {
    if (arg == "-h" || arg == "--help") {
      std::fputs(kInspectHelp, stdout);
      return kExitOk;
    }
    if (arg == "--check-runtime") {
      check_runtime = true;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      PrintError(kCommand, "unknown option " + Quoted(arg) + " (see nxo inspect --help)");
      return kExitUsage;
    }
    files.push_back(arg);
  }
  if (files.size() != 1) {
    PrintError(kCommand, "give exactly one FILE (see nxo inspect --help)");
    return kExitUsage;
  }
  return Inspect(files.front(), check_runtime);
}

}  // namespace nxo::tool
