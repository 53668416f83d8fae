#include "runtime/jre_search.h"

#include <cctype>

#include "config/keys.h"
#include "platform/platform.h"
#include "runtime/java_layout.h"
#include "support/path.h"

namespace nxo::runtime {

namespace {

// Registry string values are read into a buffer of this size; longer ones
// count as missing.
constexpr std::size_t kRegistryBufferSize = 260;

bool Readable(const std::string& path) {
  return platform::Access(path, platform::AccessMode::kRead);
}

// A flavour name has two characters or more; shorter values (and the "-"
// the configuration stores for an empty value) mean "no preference".
bool HasFlavour(const config::LaunchConfig& config) { return config.VmSetting().size() >= 2; }

// Cuts |path| at its last separator; a separator only at the start, or none,
// leaves it as it is.
void CutLastComponent(std::string& path) {
  std::size_t at = path.find_last_of("\\/");
  if (at != std::string::npos && at > 0) path.resize(at);
}

bool ReadRegistryString(const std::string& key, const std::string& name, std::string& text) {
  platform::RegistryValue value;
  if (!platform::ReadRegistryValue(platform::RegistryRoot::kLocalMachine, key, name, value))
    return false;
  if (value.data.size() > kRegistryBufferSize) return false;
  text.assign(value.data.begin(), value.data.end());
  text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
  return true;
}

// The first readable library in |directory| or in one of its immediate
// subdirectories (flavours such as "client" or "server").
std::string ProbeDirectory(const config::LaunchConfig& config, const std::string& directory) {
  const std::string library = JvmLibraryName();
  std::string direct = directory + library;
  if (Readable(direct)) return direct;
  if (HasFlavour(config)) {
    std::string preferred = directory + config.VmSetting() + "/" + library;
    if (Readable(preferred)) return preferred;
  }
  std::string found;
  platform::ListDirectory(directory + "*", [&](const platform::DirectoryEntry& entry) {
    if (!entry.is_directory || entry.name == "." || entry.name == "..") return true;
    std::string candidate = directory + entry.name + "/" + library;
    if (!Readable(candidate)) return true;
    found = candidate;
    return false;
  });
  return found;
}

std::string SearchExplicitLibrary(const config::LaunchConfig& config) {
  std::string value = config::keys::JvmDll(config);
  if (value.empty()) return std::string();
  std::string path = config.ResolveConfigPath(value);
  return Readable(path) ? path : std::string();
}

std::string SearchBesideApplication(const config::LaunchConfig& config) {
  std::string home = config::keys::Jre(config);
  if (home.empty()) home = "./jre/";
  return ProbeRuntimeHome(config, config.ResolveConfigPath(home));
}

std::string SearchInstalledRuntimes(const config::LaunchConfig& config) {
  for (const char* key : kJavaSoftKeys) {
    std::string found = ReadRegistryRuntime(config, key);
    if (!found.empty()) return found;
  }
  // Systems without a registry keep their installed runtimes in one place.
  for (const std::string& home : SystemRuntimeHomes()) {
    std::string found = ProbeRuntimeHome(config, home);
    if (!found.empty()) return found;
  }
  return std::string();
}

std::string SearchSource(const config::LaunchConfig& config, char letter) {
  switch (letter) {
    case 'c': return SearchExplicitLibrary(config);
    case 'b': return SearchBesideApplication(config);
    case 's': return SearchInstalledRuntimes(config);
    case 'i': return ReadRegistryRuntime(config, kIbmKey);
    case 'e': return ReadEnvironmentRuntime(config);
    default: return std::string();
  }
}

std::string SourceOrder(const config::LaunchConfig& config) {
  std::string order = config::keys::JreOrder(config);
  for (char& c : order) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (order.find_first_of(kDefaultJreOrder) == std::string::npos) return kDefaultJreOrder;
  return order;
}

}  // namespace

std::string SearchJvmLibrary(const config::LaunchConfig& config) {
  for (char letter : SourceOrder(config)) {
    std::string found = SearchSource(config, letter);
    if (!found.empty()) return found;
  }
  return std::string();
}

const std::string& JvmLibrarySearch::Locate(const config::LaunchConfig& config) {
  if (!outcome_) outcome_ = SearchJvmLibrary(config);
  return *outcome_;
}

std::string ProbeRuntimeHome(const config::LaunchConfig& config, const std::string& home) {
  const std::string base = WithTrailingSeparator(home);
  for (const std::string& suffix : RuntimeHomeSuffixes()) {
    std::string found = ProbeDirectory(config, base + suffix);
    if (!found.empty()) return found;
  }
  return std::string();
}

std::string ReadRegistryRuntime(const config::LaunchConfig& config, const std::string& key_path) {
  std::string version;
  if (!ReadRegistryString(key_path, "CurrentVersion", version)) return std::string();
  const std::string version_key = key_path + "\\" + version;

  std::string runtime_lib;
  if (ReadRegistryString(version_key, "RuntimeLib", runtime_lib)) {
    if (Readable(runtime_lib) && !HasFlavour(config)) return runtime_lib;
    // RuntimeLib names <bin>\<flavour>\jvm.dll; probing <bin> honours the
    // preferred flavour and survives a RuntimeLib that no longer exists.
    CutLastComponent(runtime_lib);
    CutLastComponent(runtime_lib);
    return ProbeRuntimeHome(config, runtime_lib);
  }
  std::string java_home;
  if (!ReadRegistryString(version_key, "JavaHome", java_home)) return std::string();
  return ProbeRuntimeHome(config, java_home);
}

std::string ReadEnvironmentRuntime(const config::LaunchConfig& config) {
  for (const char* name : {"JRE_HOME", "JAVA_HOME"}) {
    std::optional<std::string> home = platform::GetEnvironment(name);
    if (!home || home->empty()) continue;
    std::string found = ProbeRuntimeHome(config, *home);
    if (!found.empty()) return found;
  }
  return std::string();
}

}  // namespace nxo::runtime
