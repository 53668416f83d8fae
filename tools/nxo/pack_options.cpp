#include "tools/nxo/pack_options.h"

#include "tools/nxo/files.h"

namespace nxo::tool {

namespace {

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

using Apply = Status (*)(PackOptions& options, const std::string& value);

// One option of the table: its names, whether it takes a value, and what it
// does with it. A flag given a value in "--flag=value" form ignores it.
struct OptionSpec {
  const char* short_name;  // "" for none
  const char* long_name;
  bool takes_value;
  Apply apply;
};

const OptionSpec kOptions[] = {
    {"-h", "--help", false, [](PackOptions& o, const std::string&) { o.help = true; return Status::Ok(); }},
    {"", "--verify-integrity", false,
     [](PackOptions& o, const std::string&) { o.verify_integrity = true; return Status::Ok(); }},
    {"", "--no-check", false,
     [](PackOptions& o, const std::string&) { o.check_main_class = false; return Status::Ok(); }},
    {"-o", "--output", true, [](PackOptions& o, const std::string& v) { o.output = v; return Status::Ok(); }},
    {"-t", "--target", true,
     [](PackOptions& o, const std::string& v) {
       if (ParseTarget(v, o.target)) return Status::Ok();
       return Status::Error("unknown target " + Quoted(v) + " (use win32, win64 or linux)");
     }},
    {"-m", "--main-class", true,
     [](PackOptions& o, const std::string& v) { o.main_class = v; return Status::Ok(); }},
    {"-c", "--config", true, [](PackOptions& o, const std::string& v) { o.config_file = v; return Status::Ok(); }},
    {"-s", "--set", true,
     [](PackOptions& o, const std::string& v) { o.settings.push_back(v); return Status::Ok(); }},
    {"-l", "--lib", true,
     [](PackOptions& o, const std::string& v) { o.lib_directories.push_back(v); return Status::Ok(); }},
    {"", "--classes", true,
     [](PackOptions& o, const std::string& v) { o.classes_directory = v; return Status::Ok(); }},
    {"", "--unpack", true,
     [](PackOptions& o, const std::string& v) {
       if (v.empty()) return Status::Error("--unpack needs a pattern");
       o.unpack_patterns.push_back(v);
       return Status::Ok();
     }},
    {"", "--stub", true, [](PackOptions& o, const std::string& v) { o.stub = v; return Status::Ok(); }},
    {"", "--support", true, [](PackOptions& o, const std::string& v) { o.support = v; return Status::Ok(); }},
    // The Windows executable's resources.
    {"", "--icon", true, [](PackOptions& o, const std::string& v) { o.resources.icon = v; return Status::Ok(); }},
    {"", "--version", true,
     [](PackOptions& o, const std::string& v) { o.resources.version_settings.push_back(v); return Status::Ok(); }},
    {"", "--version-file", true,
     [](PackOptions& o, const std::string& v) { o.resources.version_file = v; return Status::Ok(); }},
    {"", "--manifest", true,
     [](PackOptions& o, const std::string& v) {
       if (o.resources.manifest == ManifestChoice::kNone)
         return Status::Error("give --manifest or --no-manifest, not both");
       o.resources.manifest = ManifestChoice::kFile;
       o.resources.manifest_file = v;
       return Status::Ok();
     }},
    {"", "--no-manifest", false,
     [](PackOptions& o, const std::string&) {
       if (o.resources.manifest == ManifestChoice::kFile)
         return Status::Error("give --manifest or --no-manifest, not both");
       o.resources.manifest = ManifestChoice::kNone;
       return Status::Ok();
     }},
    {"", "--ansi-code-page", false,
     [](PackOptions& o, const std::string&) { o.resources.ansi_code_page = true; return Status::Ok(); }},
    {"", "--splash", true, [](PackOptions& o, const std::string& v) { o.splash = v; return Status::Ok(); }},
    {"", "--cds", false,
     [](PackOptions& o, const std::string&) {
       o.settings.push_back("classdatasharing=auto");
       return Status::Ok();
     }},
};

bool IsResourceOption(const OptionSpec& option) {
  const std::string name = option.long_name;
  return name == "--icon" || name == "--version" || name == "--version-file" || name == "--manifest" ||
         name == "--no-manifest" || name == "--ansi-code-page";
}

const OptionSpec* FindOption(const std::string& name) {
  for (const OptionSpec& option : kOptions)
    if (name == option.long_name || (option.short_name[0] != '\0' && name == option.short_name))
      return &option;
  return nullptr;
}

}  // namespace

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
    const OptionSpec* option = FindOption(arg);
    if (option == nullptr) return Status::Error("unknown option " + Quoted(arg) + " (see nxo pack --help)");
    std::string value;
    if (option->takes_value) NXO_RETURN_IF_ERROR(reader.Value(arg, inline_value, value));
    NXO_RETURN_IF_ERROR(option->apply(options, value));
    if (IsResourceOption(*option)) options.resources_given = true;
  }
  if (options.help) return Status::Ok();
  if (options.output.empty()) return Status::Error("no output file: give -o FILE");
  if (options.resources_given && !IsWindowsTarget(options.target))
    return Status::Error("icon, version and manifest options are for the Windows targets only");
  if (options.resources.ansi_code_page && options.resources.manifest != ManifestChoice::kDefault)
    return Status::Error("--ansi-code-page changes nxo's own manifest: it goes with neither --manifest nor --no-manifest");
  return Status::Ok();
}

}  // namespace nxo::tool
