// nxo pack: stub | configuration block | L | digest | archive, then the
// archive length (and flags) stored into the stub's PayloadRecord.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "config/integrity.h"
#include "config/launch_config.h"
#include "config/payload.h"
#include "support/text.h"
#include "tools/nxo/commands.h"
#include "tools/nxo/files.h"
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
    "  -t, --target T         win32 (default) or linux\n"
    "  -m, --main-class NAME  the application's main class (\"mainclass\"); replaces\n"
    "                         any mainclass line of the configuration\n"
    "  -c, --config FILE      configuration text (UTF-8, UTF-16 with byte-order mark,\n"
    "                         or the local code page)\n"
    "  -s, --set KEY=VALUE    a configuration line after the file's; lines of the file\n"
    "                         with the same key are dropped (repeat for multi-valued keys)\n"
    "  -l, --lib DIR          add every .jar below DIR, in sorted order\n"
    "      --classes DIR      add DIR's files under BOOT-INF/classes/\n"
    "      --verify-integrity set the integrity flag and write the payload digest\n"
    "      --no-check         do not check that an input holds the main class\n"
    "      --stub FILE        use this stub instead of <nxo dir>/stubs/<stub of target>\n"
    "      --support JAR      support classes (default <nxo dir>/lib/nxo-support.jar)\n"
    "  -h, --help             show this help\n"
    "\n"
    "Jars named on the command line come first, then those found with --lib.\n"
    "Packing the same inputs twice gives the same bytes.\n";

namespace {

const char kCommand[] = "pack";

struct PackOptions {
  std::string output;
  Target target = Target::kWin32;
  std::optional<std::string> main_class;
  std::optional<std::string> config_file;
  std::vector<std::string> settings;  // "key=value"
  std::vector<std::string> jars;
  std::vector<std::string> lib_directories;
  std::optional<std::string> classes_directory;
  std::optional<std::string> stub;
  std::optional<std::string> support;
  bool verify_integrity = false;
  bool check_main_class = true;
  bool help = false;
};

// ---- Command line -----------------------------------------------------------

class ArgumentReader {
 public:
  explicit ArgumentReader(const std::vector<std::string>& args) : args_(args) {}
  bool Done() const { return index_ >= args_.size(); }
  const std::string& Next() { return args_[index_++]; }
  // The value of an option given as "--opt value" or "--opt=value".
  Status Value(const std::string& option, const std::optional<std::string>& inline_value, std::string& value) {
    if (inline_value) {
      value = *inline_value;
      return Status::Ok();
    }
    if (Done()) return Status::Error("option " + option + " needs a value");
    value = Next();
    return Status::Ok();
  }

 private:
  const std::vector<std::string>& args_;
  std::size_t index_ = 0;
};

Status ParseOptions(const std::vector<std::string>& args, PackOptions& options) {
  ArgumentReader reader(args);
  bool only_jars = false;
  while (!reader.Done()) {
    std::string arg = reader.Next();
    if (only_jars || arg.empty() || arg[0] != '-' || arg == "-") {
      options.jars.push_back(arg);
      continue;
    }
    if (arg == "--") {
      only_jars = true;
      continue;
    }
    std::optional<std::string> inline_value;
    if (arg.rfind("--", 0) == 0) {
      const std::string::size_type equals = arg.find('=');
      if (equals != std::string::npos) {
        inline_value = arg.substr(equals + 1);
        arg.resize(equals);
      }
    }
    std::string value;
    if (arg == "-h" || arg == "--help") {
      options.help = true;
    } else if (arg == "--verify-integrity") {
      options.verify_integrity = true;
    } else if (arg == "--no-check") {
      options.check_main_class = false;
    } else if (arg == "-o" || arg == "--output") {
      NXO_RETURN_IF_ERROR(reader.Value(arg, inline_value, options.output));
    } else if (arg == "-t" || arg == "--target") {
      NXO_RETURN_IF_ERROR(reader.Value(arg, inline_value, value));
      if (!ParseTarget(value, options.target))
        return Status::Error("unknown target " + Quoted(value) + " (use win32 or linux)");
    } else if (arg == "-m" || arg == "--main-class") {
      NXO_RETURN_IF_ERROR(reader.Value(arg, inline_value, value));
      options.main_class = value;
    } else if (arg == "-c" || arg == "--config") {
      NXO_RETURN_IF_ERROR(reader.Value(arg, inline_value, value));
      options.config_file = value;
    } else if (arg == "-s" || arg == "--set") {
      NXO_RETURN_IF_ERROR(reader.Value(arg, inline_value, value));
      options.settings.push_back(value);
    } else if (arg == "-l" || arg == "--lib") {
      NXO_RETURN_IF_ERROR(reader.Value(arg, inline_value, value));
      options.lib_directories.push_back(value);
    } else if (arg == "--classes") {
      NXO_RETURN_IF_ERROR(reader.Value(arg, inline_value, value));
      options.classes_directory = value;
    } else if (arg == "--stub") {
      NXO_RETURN_IF_ERROR(reader.Value(arg, inline_value, value));
      options.stub = value;
    } else if (arg == "--support") {
      NXO_RETURN_IF_ERROR(reader.Value(arg, inline_value, value));
      options.support = value;
    } else {
      return Status::Error("unknown option " + Quoted(arg) + " (see nxo pack --help)");
    }
  }
  if (options.help) return Status::Ok();
  if (options.output.empty()) return Status::Error("no output file: give -o FILE");
  return Status::Ok();
}

// ---- Configuration block ----------------------------------------------------

std::vector<std::string> SplitLines(std::string_view text) {
  // The reader's line breaks: CR, LF, CR LF and LF CR.
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      const char pair = c == '\r' ? '\n' : '\r';
      if (i + 1 < text.size() && text[i + 1] == pair) ++i;
    } else {
      line.push_back(c);
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// The reader's key rule: after leading spaces, the key ignoring case,
// followed by the end or a byte that cannot continue a key.
bool LineCarriesKey(std::string_view line, std::string_view key) {
  const std::string_view::size_type start = line.find_first_not_of(' ');
  if (start == std::string_view::npos) return false;
  line.remove_prefix(start);
  if (!StartsWithIgnoreCase(line, key)) return false;
  return line.size() == key.size() || !IsNameByte(static_cast<unsigned char>(line[key.size()]));
}

std::string KeyOfSetting(const std::string& setting) {
  std::string key = setting.substr(0, setting.find('='));
  while (!key.empty() && key.back() == ' ') key.pop_back();
  return key;
}

Status ValidateSetting(const std::string& setting) {
  const std::string key = KeyOfSetting(setting);
  if (setting.find('=') == std::string::npos || key.empty() || key.find_first_not_of(' ') != 0)
    return Status::Error("--set " + Quoted(setting) + " is not KEY=VALUE");
  if (setting.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    return Status::Error("--set " + Quoted(key) + ": a value cannot span lines");
  return Status::Ok();
}

struct ConfigBlock {
  std::string bytes;       // BOM, lines ending in CR LF, one 0x00
  std::string main_class;  // empty when none is configured
};

Status BuildConfigBlock(const PackOptions& options, ConfigBlock& block) {
  std::vector<std::string> lines;
  if (options.config_file) {
    std::string raw;
    NXO_RETURN_IF_ERROR(ReadWholeFile(*options.config_file, raw));
    for (std::string& line : SplitLines(config::DecodeConfigText(raw)))
      if (!line.empty()) lines.push_back(std::move(line));
  }
  // A --set replaces the file's lines of its key; the reader would otherwise
  // take the file's first line and ignore the command line.
  for (const std::string& setting : options.settings) {
    NXO_RETURN_IF_ERROR(ValidateSetting(setting));
    const std::string key = KeyOfSetting(setting);
    std::erase_if(lines, [&](const std::string& line) { return LineCarriesKey(line, key); });
  }
  for (const std::string& setting : options.settings) lines.push_back(AnsiToUtf8(setting));
  if (options.main_class) {
    if (options.main_class->empty() || options.main_class->find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
      return Status::Error("bad main class " + Quoted(*options.main_class));
    std::erase_if(lines, [](const std::string& line) { return LineCarriesKey(line, "mainclass"); });
    lines.push_back("mainclass " + AnsiToUtf8(*options.main_class));
  }

  block.bytes = "\xEF\xBB\xBF";
  for (const std::string& line : lines) block.bytes += line + "\r\n";
  block.bytes.push_back('\0');
  for (const std::string& line : lines) {
    if (!LineCarriesKey(line, "mainclass")) continue;
    config::ScanLines(line, "mainclass", [&](std::string_view value) {
      block.main_class = std::string(value);
      return false;
    });
    break;  // the first line wins, as in the reader
  }
  return Status::Ok();
}

// ---- Inputs -----------------------------------------------------------------

struct Stub {
  std::string path;
  std::string bytes;
  std::uint64_t record = 0;
};

Status LoadStub(const PackOptions& options, Stub& stub) {
  stub.path = options.stub ? *options.stub
                           : (std::filesystem::path(ProgramDirectory()) / "stubs" / StubFileName(options.target)).string();
  NXO_RETURN_IF_ERROR(ReadWholeFile(stub.path, stub.bytes));
  const auto* data = reinterpret_cast<const unsigned char*>(stub.bytes.data());
  if (TargetOfImage(data, stub.bytes.size()) != options.target)
    return Status::Error("stub " + Quoted(stub.path) + " is not a " + TargetName(options.target) +
                         " launcher (" + DescribeImage(data, stub.bytes.size()) + ")");
  const std::uint64_t hits = CountRecordMagic(data, stub.bytes.size(), stub.record);
  if (hits != 1)
    return Status::Error("stub " + Quoted(stub.path) + " holds the payload record magic " +
                         std::to_string(hits) + " times; it must hold it exactly once");
  if (stub.record + config::kDigestSize + 8 > stub.bytes.size())
    return Status::Error("stub " + Quoted(stub.path) + " ends inside its payload record");
  if (ReadLe32At(data, stub.record + kRecordLengthOffset) != 0)
    return Status::Error("stub " + Quoted(stub.path) + " already carries a payload");
  return Status::Ok();
}

struct Jar {
  std::string path;
  std::string name;  // the entry name below BOOT-INF/lib/
  MappedFile file;
  zip::Directory directory;
};

Status OpenJar(const std::string& path, Jar& jar) {
  jar.path = path;
  jar.name = std::filesystem::path(path).filename().string();
  NXO_RETURN_IF_ERROR(jar.file.Open(path));
  Status read = zip::ReadDirectory(jar.file.data(), jar.file.size(), jar.directory);
  if (!read.ok()) return Status::Error(Quoted(path) + " is not a jar: " + read.message());
  return Status::Ok();
}

bool HasJarExtension(const std::filesystem::path& path) {
  const std::string extension = path.extension().string();
  return EqualsIgnoreCase(extension, ".jar");
}

Status ListLibDirectory(const std::string& directory, std::vector<std::string>& jars) {
  std::error_code error;
  if (!std::filesystem::is_directory(directory, error))
    return Status::Error("cannot read --lib directory " + Quoted(directory) + ": not a directory");
  std::vector<std::string> found;
  std::filesystem::recursive_directory_iterator walk(directory, error), end;
  for (; !error && walk != end; walk.increment(error)) {
    if (walk->is_regular_file(error) && HasJarExtension(walk->path())) found.push_back(walk->path().string());
  }
  if (error) return Status::Error("cannot read --lib directory " + Quoted(directory) + ": " + error.message());
  std::sort(found.begin(), found.end());
  jars.insert(jars.end(), found.begin(), found.end());
  return Status::Ok();
}

Status OpenJars(const PackOptions& options, std::vector<Jar>& jars) {
  std::vector<std::string> paths = options.jars;
  for (const std::string& directory : options.lib_directories) NXO_RETURN_IF_ERROR(ListLibDirectory(directory, paths));
  jars.resize(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    NXO_RETURN_IF_ERROR(OpenJar(paths[i], jars[i]));
    for (std::size_t j = 0; j < i; ++j)
      if (jars[j].name == jars[i].name)
        return Status::Error("two jars named " + Quoted(jars[i].name) + ": " + Quoted(jars[j].path) + " and " +
                             Quoted(jars[i].path));
  }
  return Status::Ok();
}

// Files and directories below --classes, relative and sorted.
struct ClassesTree {
  std::filesystem::path root;
  std::vector<std::string> directories;  // "a/", "a/b/"
  std::vector<std::string> files;        // "a/b/C.class"
  std::uint64_t total_size = 0;
};

Status ListClasses(const std::string& directory, ClassesTree& tree) {
  std::error_code error;
  if (!std::filesystem::is_directory(directory, error))
    return Status::Error("cannot read --classes directory " + Quoted(directory) + ": not a directory");
  tree.root = directory;
  std::filesystem::recursive_directory_iterator walk(directory, error), end;
  for (; !error && walk != end; walk.increment(error)) {
    const std::string relative = std::filesystem::relative(walk->path(), tree.root, error).generic_string();
    if (error) break;
    if (walk->is_directory(error)) {
      tree.directories.push_back(relative + "/");
    } else if (walk->is_regular_file(error)) {
      tree.files.push_back(relative);
      tree.total_size += walk->file_size(error);
    }
  }
  if (error) return Status::Error("cannot read --classes directory " + Quoted(directory) + ": " + error.message());
  std::sort(tree.directories.begin(), tree.directories.end());
  std::sort(tree.files.begin(), tree.files.end());
  return Status::Ok();
}

bool DirectoryHolds(const zip::Directory& directory, const std::string& name) {
  return std::any_of(directory.entries.begin(), directory.entries.end(),
                     [&](const zip::Entry& entry) { return entry.name == name; });
}

Status CheckMainClass(const std::string& main_class, const zip::Directory& support, const std::vector<Jar>& jars,
                      const ClassesTree* classes) {
  std::string file = main_class;
  std::replace(file.begin(), file.end(), '.', '/');
  file += ".class";
  if (DirectoryHolds(support, file)) return Status::Ok();
  for (const Jar& jar : jars)
    if (DirectoryHolds(jar.directory, file)) return Status::Ok();
  if (classes && std::binary_search(classes->files.begin(), classes->files.end(), file)) return Status::Ok();
  return Status::Error("main class " + Quoted(main_class) + " (" + file +
                       ") is in none of the inputs (--no-check skips this test)");
}

// ---- Archive ------------------------------------------------------------------

bool IsMetaInf(const std::string& name) { return name.rfind("META-INF/", 0) == 0 || name == "META-INF"; }

// Directory entries for every parent of |name| that has none yet.
Status AddParentDirectories(ZipWriter& zip, const std::string& name) {
  for (std::string::size_type slash = name.find('/'); slash != std::string::npos && slash + 1 < name.size();
       slash = name.find('/', slash + 1)) {
    const std::string parent = name.substr(0, slash + 1);
    if (!zip.Contains(parent)) NXO_RETURN_IF_ERROR(zip.AddDirectory(parent));
  }
  return Status::Ok();
}

Status AddSupportClasses(ZipWriter& zip, const std::string& path, const MappedFile& file,
                         const zip::Directory& directory) {
  for (const zip::Entry& entry : directory.entries) {
    if (IsMetaInf(entry.name)) continue;
    NXO_RETURN_IF_ERROR(AddParentDirectories(zip, entry.name));
    if (entry.IsDirectory()) {
      if (!zip.Contains(entry.name)) NXO_RETURN_IF_ERROR(zip.AddDirectory(entry.name));
      continue;
    }
    if (entry.flags & 1) return Status::Error("support jar " + Quoted(path) + ": entry " + Quoted(entry.name) + " is encrypted");
    if (entry.method == zip::kDeflated) {
      NXO_RETURN_IF_ERROR(zip.AddCopied(entry.name, entry, file.data()));
    } else if (entry.method == zip::kStored) {
      std::string_view bytes(reinterpret_cast<const char*>(file.data() + entry.data_position), entry.size);
      NXO_RETURN_IF_ERROR(zip.AddDeflated(entry.name, bytes));
    } else {
      return Status::Error("support jar " + Quoted(path) + ": entry " + Quoted(entry.name) +
                           " uses compression method " + std::to_string(entry.method));
    }
  }
  return Status::Ok();
}

Status AddClassesTree(ZipWriter& zip, const ClassesTree& tree) {
  const std::string prefix = "BOOT-INF/classes/";
  NXO_RETURN_IF_ERROR(AddParentDirectories(zip, prefix + "x"));
  for (const std::string& directory : tree.directories) NXO_RETURN_IF_ERROR(zip.AddDirectory(prefix + directory));
  for (const std::string& file : tree.files) {
    std::string bytes;
    NXO_RETURN_IF_ERROR(ReadWholeFile((tree.root / file).string(), bytes));
    NXO_RETURN_IF_ERROR(zip.AddDeflated(prefix + file, bytes));
  }
  return Status::Ok();
}

Status WriteArchive(ZipWriter& zip, const std::string& support_path, const MappedFile& support,
                    const zip::Directory& support_directory, const std::vector<Jar>& jars, const ClassesTree* classes) {
  NXO_RETURN_IF_ERROR(AddSupportClasses(zip, support_path, support, support_directory));
  if (!jars.empty()) NXO_RETURN_IF_ERROR(AddParentDirectories(zip, "BOOT-INF/lib/x"));
  for (const Jar& jar : jars) NXO_RETURN_IF_ERROR(zip.AddStoredFile("BOOT-INF/lib/" + jar.name, jar.path));
  if (classes) NXO_RETURN_IF_ERROR(AddClassesTree(zip, *classes));
  return zip.Finish();
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

// ---- The command ------------------------------------------------------------------

Status Pack(const PackOptions& options) {
  Stub stub;
  NXO_RETURN_IF_ERROR(LoadStub(options, stub));
  ConfigBlock block;
  NXO_RETURN_IF_ERROR(BuildConfigBlock(options, block));
  if (block.main_class.empty()) return Status::Error("no main class: give --main-class NAME");

  const std::string support_path =
      options.support ? *options.support : (std::filesystem::path(ProgramDirectory()) / "lib" / "nxo-support.jar").string();
  MappedFile support;
  zip::Directory support_directory;
  NXO_RETURN_IF_ERROR(support.Open(support_path));
  Status support_read = zip::ReadDirectory(support.data(), support.size(), support_directory);
  if (!support_read.ok()) return Status::Error("support jar " + Quoted(support_path) + " is not a jar: " + support_read.message());

  std::vector<Jar> jars;
  NXO_RETURN_IF_ERROR(OpenJars(options, jars));
  std::optional<ClassesTree> classes;
  if (options.classes_directory) {
    classes.emplace();
    NXO_RETURN_IF_ERROR(ListClasses(*options.classes_directory, *classes));
  }
  if (options.check_main_class)
    NXO_RETURN_IF_ERROR(CheckMainClass(block.main_class, support_directory, jars, classes ? &*classes : nullptr));

  // Refuse before writing gigabytes: the launcher reads the file size, and
  // the archive's offsets, as 32-bit values.
  std::uint64_t input_size = stub.bytes.size() + block.bytes.size() + support.size();
  for (const Jar& jar : jars) input_size += jar.file.size();
  if (classes) input_size += classes->total_size;
  if (input_size >= zip::kMax32)
    return Status::Error("the inputs add up to " + std::to_string(input_size) +
                         " bytes; an executable with its payload must stay under 4 GiB (no ZIP64)");

  OutputFile out;
  NXO_RETURN_IF_ERROR(out.Create(options.output));
  NXO_RETURN_IF_ERROR(out.Write(stub.bytes));
  NXO_RETURN_IF_ERROR(out.Write(block.bytes));
  NXO_RETURN_IF_ERROR(out.Write(Le32Bytes(static_cast<std::uint32_t>(block.bytes.size()))));
  NXO_RETURN_IF_ERROR(out.Write(std::string(config::kDigestSize, '\0')));
  ZipWriter zip(out);
  NXO_RETURN_IF_ERROR(WriteArchive(zip, support_path, support, support_directory, jars, classes ? &*classes : nullptr));
  if (out.Position() >= zip::kMax32)
    return Status::Error("the executable would be " + std::to_string(out.Position()) +
                         " bytes; it must stay under 4 GiB (no ZIP64)");

  const auto archive_length = static_cast<std::uint32_t>(zip.ArchiveLength());
  const std::uint32_t flags = options.verify_integrity ? config::kFlagVerifyIntegrity : 0;
  NXO_RETURN_IF_ERROR(out.PatchAt(stub.record + kRecordLengthOffset, Le32Bytes(archive_length).data(), 4));
  NXO_RETURN_IF_ERROR(out.PatchAt(stub.record + kRecordFlagsOffset, Le32Bytes(flags).data(), 4));
  if (options.verify_integrity) NXO_RETURN_IF_ERROR(WriteDigest(out, archive_length));
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
