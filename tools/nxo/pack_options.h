// The options of "nxo pack", read from its command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/nxo/app_resources.h"
#include "tools/nxo/status.h"
#include "tools/nxo/stub.h"

namespace nxo::tool {

struct PackOptions {
  std::string output;
  Target target = Target::kWin32;
  std::optional<std::string> main_class;
  std::optional<std::string> config_file;
  std::vector<std::string> settings;  // "key=value"
  std::vector<std::string> jars;
  std::vector<std::string> lib_directories;
  std::optional<std::string> classes_directory;
  std::vector<std::string> unpack_patterns;  // globs over jar file names
  std::optional<std::string> stub;
  std::optional<std::string> support;
  std::optional<std::string> splash;
  bool verify_integrity = false;
  bool check_main_class = true;
  bool help = false;
  ResourceOptions resources;     // Windows targets only
  bool resources_given = false;  // any of the resource options
};

// Reads |args| (the words after "pack") into |options|. An option's value
// follows it as the next word, or after "=" for a long option; "--" makes
// every later word a jar. Fails on an unknown option, a missing value or a
// missing output.
Status ParseOptions(const std::vector<std::string>& args, PackOptions& options);

}  // namespace nxo::tool
