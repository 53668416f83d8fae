// Helpers for the runtime tests: configurations for a pretend application,
// fake runtime homes and environment variables restored after each test.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "config/launch_config.h"
#include "platform/platform.h"
#include "tests/test_util.h"

namespace nxo::runtime::test {

// A configuration holding |lines| for an application whose executable would
// be |app_dir| + "app.exe" (the file need not exist), started from |cwd|.
inline config::LaunchConfig MakeConfig(const std::string& app_dir, const std::string& cwd,
                                       const std::string& lines) {
  config::ConfigSource source;
  source.executable_path = app_dir + "app.exe";
  source.current_directory = cwd;
  config::LaunchConfig config(source);
  config.SetTextForTesting(lines, 0);
  return config;
}

// Creates |path| (and its directories) holding a few bytes; returns |path|.
inline std::string Touch(const std::string& path) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  nxo::test::WriteFile(path, "x");
  return path;
}

// Sets environment variables for one test and restores them afterwards.
class ScopedEnvironment {
 public:
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_)
      platform::PutEnvironment(name + "=" + value.value_or(""));
  }
  void Set(const std::string& name, const std::string& value) {
    if (!saved_.count(name)) saved_[name] = platform::GetEnvironment(name);
    platform::PutEnvironment(name + "=" + value);
  }
  void Unset(const std::string& name) { Set(name, ""); }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

// The test program's own directory, with a separator at the end.
inline std::string ProgramDirectory() {
  std::string path = platform::ModuleFileName();
  return path.substr(0, path.find_last_of("\\/") + 1);
}

}  // namespace nxo::runtime::test
