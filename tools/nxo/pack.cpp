// nxo pack: stub | configuration block | L | digest | archive, then the
// archive length (and flags) stored into the stub's PayloadRecord. The
// options, the configuration block and the archive each have their own file
// (pack_options, pack_config, pack_archive); this one puts them together.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "config/integrity.h"
#include "config/payload.h"
#include "support/bytes.h"
#include "tools/nxo/app_resources.h"
#include "tools/nxo/commands.h"
#include "tools/nxo/files.h"
#include "tools/nxo/jar_manifest.h"
#include "tools/nxo/pack_archive.h"
#include "tools/nxo/pack_config.h"
#include "tools/nxo/pack_options.h"
#include "tools/nxo/pe_resources.h"
#include "tools/nxo/splash_image.h"
#include "tools/nxo/stub.h"
#include "tools/nxo/zip_format.h"
#include "tools/nxo/zip_writer.h"

namespace nxo::tool {

const char kPackHelp[] =
    "Usage: nxo pack [options] -o OUTPUT [JAR...]\n"
    "\n"
    "Builds one executable: the launcher stub of the target, the configuration\n"
    "block, and a jar-form archive with the support classes at its root and the\n"
    "application's jars stored under BOOT-INF/lib/.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE      the executable to write (replaced only on success)\n"
    "  -t, --target T         win32 (default), win64 or linux\n"
    "  -m, --main-class NAME  the application's main class (\"mainclass\"); replaces\n"
    "                         any mainclass line of the configuration; without it and\n"
    "                         without one in the configuration, the Main-Class of the\n"
    "                         first jar's manifest\n"
    "  -c, --config FILE      configuration text (UTF-8, UTF-16 with byte-order mark,\n"
    "                         or the local code page)\n"
    "  -s, --set KEY=VALUE    a configuration line after the file's; lines of the file\n"
    "                         with the same key are dropped (repeat for multi-valued keys)\n"
    "                         Without a jre_order line, \"jre_order cbsviep\" is added:\n"
    "                         every runtime source, vendors' keys and PATH included\n"
    "  -l, --lib DIR          add every .jar below DIR, in sorted order\n"
    "      --classes DIR      add DIR's files under BOOT-INF/classes/\n"
    "      --unpack PATTERN   unpack the jars whose file names match the glob PATTERN\n"
    "                         into the user's cache at start and load them from there,\n"
    "                         for libraries that open their own jar file (repeatable)\n"
    "      --verify-integrity set the integrity flag and write the payload digest\n"
    "      --no-check         do not check that an input holds the main class\n"
    "      --splash FILE      a PNG, JPEG, GIF or BMP picture shown while the\n"
    "                         application starts\n"
    "      --cds              \"classdatasharing auto\": the launcher keeps an archive\n"
    "                         of the application's classes in the user's cache and\n"
    "                         starts faster from the second start on (Java 13+)\n"
    "      --stub FILE        use this stub instead of <nxo dir>/stubs/<stub of target>\n"
    "      --support JAR      support classes (default <nxo dir>/lib/nxo-support.jar)\n"
    "\n"
    "Windows targets (the executable's resources):\n"
    "      --icon FILE.ico    the application's icon (every image of the file)\n"
    "      --version KEY=VALUE  version information: FileDescription, ProductName,\n"
    "                         CompanyName, LegalCopyright, OriginalFilename,\n"
    "                         InternalName, FileVersion, ProductVersion (a.b.c.d);\n"
    "                         names default to the output's name, versions to 1.0.0.0\n"
    "      --version-file FILE  KEY=VALUE lines (UTF-8; # starts a comment line)\n"
    "      --manifest FILE    this manifest instead of nxo's (asInvoker, per-monitor\n"
    "                         DPI awareness, Windows 7-11, long paths, UTF-8 code page)\n"
    "      --ansi-code-page   leave the UTF-8 code page out of nxo's manifest, for\n"
    "                         applications before Java 18 that read files in the\n"
    "                         system's legacy code page without naming a charset\n"
    "      --no-manifest      write no manifest\n"
    "  -h, --help             show this help\n"
    "\n"
    "Jars named on the command line come first, then those found with --lib.\n"
    "Packing the same inputs twice gives the same bytes.\n";

namespace {

const char kCommand[] = "pack";

struct Stub {
  std::string path;
  std::string bytes;
  std::uint64_t record = 0;
};

Status LoadStub(const PackOptions& options, Stub& stub) {
  stub.path = options.stub ? *options.stub
                           : (std::filesystem::path(ProgramDirectory()) / "stubs" / StubFileName(options.target)).string();
  NXO_RETURN_IF_ERROR(ReadWholeFile(stub.path, stub.bytes));
  auto* data = reinterpret_cast<const unsigned char*>(stub.bytes.data());
  if (TargetOfImage(data, stub.bytes.size()) != options.target)
    return Status::Error("stub " + Quoted(stub.path) + " is not a " + TargetName(options.target) +
                         " launcher (" + DescribeImage(data, stub.bytes.size()) + ")");
  if (IsWindowsTarget(options.target)) {
    // The resources go in first: they move what follows them in the stub.
    const std::string name = std::filesystem::path(options.output).filename().string();
    NXO_RETURN_IF_ERROR(WriteStubResources(options.resources, name, stub.bytes));
    data = reinterpret_cast<const unsigned char*>(stub.bytes.data());
  }
  const std::uint64_t hits = CountRecordMagic(data, stub.bytes.size(), stub.record);
  if (hits != 1)
    return Status::Error("stub " + Quoted(stub.path) + " holds the payload record magic " +
                         std::to_string(hits) + " times; it must hold it exactly once");
  if (stub.record + config::kDigestSize + 8 > stub.bytes.size())
    return Status::Error("stub " + Quoted(stub.path) + " ends inside its payload record");
  if (ReadLe32(data + stub.record + kRecordLengthOffset) != 0)
    return Status::Error("stub " + Quoted(stub.path) + " already carries a payload");
  return Status::Ok();
}

// As "java -jar" does: the first jar's manifest names the main class.
Status MainClassFromManifest(const PackOptions& options, const std::vector<Jar>& jars, ConfigBlock& block) {
  if (jars.empty()) return Status::Ok();
  std::string main_class;
  Status read = ReadManifestMainClass(jars[0].file.data(), jars[0].file.size(), jars[0].directory, main_class);
  if (!read.ok()) return Status::Error(Quoted(jars[0].path) + ": " + read.message());
  if (main_class.empty()) return Status::Ok();
  PackOptions with_main_class = options;
  with_main_class.main_class = main_class;
  NXO_RETURN_IF_ERROR(BuildConfigBlock(with_main_class, block));
  std::printf("nxo pack: main class %s, from the manifest of %s\n", main_class.c_str(), Quoted(jars[0].path).c_str());
  return Status::Ok();
}

// A Windows launcher shows the picture from its resources: bitmap 100 (the
// BMP without its 14-byte file header) for its own window, and the file as
// raw data 100 for the runtime's splash library.
Status AddSplashResources(Stub& stub, const SplashImage& splash) {
  constexpr std::uint16_t kSplashId = 100;
  constexpr std::size_t kBitmapFileHeaderSize = 14;
  pe::ResourceTable table;
  NXO_RETURN_IF_ERROR(pe::ReadResources(stub.bytes, table));
  if (!splash.bitmap_file.empty())
    table.Put({pe::kRtBitmap, kSplashId, pe::kLanguageNeutral, splash.bitmap_file.substr(kBitmapFileHeaderSize), 0});
  table.Put({pe::kRtRcData, kSplashId, pe::kLanguageNeutral, splash.file, 0});
  NXO_RETURN_IF_ERROR(pe::WriteResources(stub.bytes, table));
  // Rewriting the resources may move what follows them; find the record anew.
  const auto* data = reinterpret_cast<const unsigned char*>(stub.bytes.data());
  if (CountRecordMagic(data, stub.bytes.size(), stub.record) != 1)
    return Status::Error("internal error: the payload record is lost after writing the resources");
  return Status::Ok();
}

// ---- Integrity ----------------------------------------------------------------

Status WriteDigest(OutputFile& out, std::uint32_t archive_length) {
  NXO_RETURN_IF_ERROR(out.Flush());
  unsigned char digest[config::kDigestSize];
  config::PayloadLocation location;
  {
    MappedFile written;
    NXO_RETURN_IF_ERROR(written.Open(out.TemporaryPath()));
    location = config::LocatePayload(written.data(), written.size(), archive_length);
    if (!location.valid || !config::ComputePayloadDigest(written.data(), written.size(), location, digest))
      return Status::Error("internal error: the written payload cannot be located");
  }
  return out.PatchAt(location.payload_position, digest, sizeof digest);
}

// A 32-bit field of the trailer or the record, as written into the file.
std::string Le32Text(std::uint32_t value) {
  std::string bytes;
  AppendLe32(bytes, value);
  return bytes;
}

// The image checksum covers the whole file, payload included (the digest
// counts the field as zero, so the order of the two does not matter).
Status WriteChecksum(OutputFile& out) {
  NXO_RETURN_IF_ERROR(out.Flush());
  std::uint32_t checksum = 0;
  config::PeHeaderFields pe;
  {
    MappedFile written;
    NXO_RETURN_IF_ERROR(written.Open(out.TemporaryPath()));
    pe = config::FindPeHeaderFields(written.data(), written.size());
    if (!pe.is_pe) return Status::Error("internal error: the written stub is no PE image");
    checksum = pe::PeChecksum(written.data(), written.size(), pe.checksum_offset);
  }
  return out.PatchAt(pe.checksum_offset, Le32Text(checksum).data(), 4);
}

// ---- The command ------------------------------------------------------------------

Status Pack(const PackOptions& options) {
  Stub stub;
  NXO_RETURN_IF_ERROR(LoadStub(options, stub));
  ConfigBlock block;
  NXO_RETURN_IF_ERROR(BuildConfigBlock(options, block));

  const std::string support_path =
      options.support ? *options.support : (std::filesystem::path(ProgramDirectory()) / "lib" / "nxo-support.jar").string();
  MappedFile support;
  zip::Directory support_directory;
  NXO_RETURN_IF_ERROR(support.Open(support_path));
  Status support_read = zip::ReadDirectory(support.data(), support.size(), support_directory);
  if (!support_read.ok()) return Status::Error("support jar " + Quoted(support_path) + " is not a jar: " + support_read.message());

  std::vector<Jar> jars;
  NXO_RETURN_IF_ERROR(OpenJars(options, jars));
  if (block.main_class.empty()) NXO_RETURN_IF_ERROR(MainClassFromManifest(options, jars, block));
  if (block.main_class.empty()) return Status::Error("no main class: give --main-class NAME");
  std::optional<ClassesTree> classes;
  if (options.classes_directory) {
    classes.emplace();
    NXO_RETURN_IF_ERROR(ListClasses(*options.classes_directory, *classes));
  }
  NXO_RETURN_IF_ERROR(CheckUnpackPatterns(options.unpack_patterns, jars));
  std::optional<SplashImage> splash;
  if (options.splash) {
    splash.emplace();
    NXO_RETURN_IF_ERROR(LoadSplashImage(*options.splash, *splash));
    // Windows executables carry it as resources, Linux ones in the payload.
    if (options.target != Target::kLinux) {
      NXO_RETURN_IF_ERROR(AddSplashResources(stub, *splash));
      splash.reset();
    }
  }
  if (options.check_main_class)
    NXO_RETURN_IF_ERROR(CheckMainClass(block.main_class, support_directory, jars, classes ? &*classes : nullptr));

  // Refuse before writing gigabytes: the launcher reads the file size and
  // the archive length as 32-bit values.
  std::uint64_t input_size = stub.bytes.size() + block.bytes.size() + support.size();
  for (const Jar& jar : jars) input_size += jar.file.size();
  if (classes) input_size += classes->total_size;
  if (splash) input_size += splash->file.size() + splash->bitmap_file.size();
  if (input_size >= zip::kMax32)
    return Status::Error("the inputs add up to " + std::to_string(input_size) +
                         " bytes; an executable with its payload must stay under 4 GiB (the launcher counts it in 32 bits, "
                         "which ZIP64 does not change)");

  OutputFile out;
  NXO_RETURN_IF_ERROR(out.Create(options.output));
  NXO_RETURN_IF_ERROR(out.Write(stub.bytes));
  NXO_RETURN_IF_ERROR(out.Write(block.bytes));
  NXO_RETURN_IF_ERROR(out.Write(Le32Text(static_cast<std::uint32_t>(block.bytes.size()))));
  NXO_RETURN_IF_ERROR(out.Write(std::string(config::kDigestSize, '\0')));
  ZipWriter zip(out);
  NXO_RETURN_IF_ERROR(WriteArchive(zip, support_path, support, support_directory, jars, classes ? &*classes : nullptr,
                                   options.unpack_patterns, splash ? &*splash : nullptr));
  if (out.Position() >= zip::kMax32)
    return Status::Error("the executable would be " + std::to_string(out.Position()) +
                         " bytes; it must stay under 4 GiB (the launcher counts it in 32 bits, which ZIP64 does not change)");

  const auto archive_length = static_cast<std::uint32_t>(zip.ArchiveLength());
  const std::uint32_t flags = options.verify_integrity ? config::kFlagVerifyIntegrity : 0;
  NXO_RETURN_IF_ERROR(out.PatchAt(stub.record + kRecordLengthOffset, Le32Text(archive_length).data(), 4));
  NXO_RETURN_IF_ERROR(out.PatchAt(stub.record + kRecordFlagsOffset, Le32Text(flags).data(), 4));
  if (options.verify_integrity) NXO_RETURN_IF_ERROR(WriteDigest(out, archive_length));
  if (IsWindowsTarget(options.target)) NXO_RETURN_IF_ERROR(WriteChecksum(out));
  return out.Commit();
}

}  // namespace

void PrintError(const char* command, const std::string& message) {
  std::fprintf(stderr, "nxo %s: %s\n", command, message.c_str());
}

int RunPack(const std::vector<std::string>& args) {
  PackOptions options;
  Status parsed = ParseOptions(args, options);
  if (!parsed.ok()) {
    PrintError(kCommand, parsed.message());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(kPackHelp, stdout);
    return kExitOk;
  }
  Status packed = Pack(options);
  if (!packed.ok()) {
    PrintError(kCommand, packed.message());
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace nxo::tool
