#include "runtime/jre_search.h"

#include <cctype>

#include "config/keys.h"
#include "platform/platform.h"
#include "runtime/java_layout.h"
#include "runtime/machine.h"
#include "runtime/vendor_runtimes.h"
#include "support/path.h"
#include "support/trail.h"

namespace nxo::runtime {

namespace {

// Registry string values are read into a buffer of this size; longer ones
// count as missing.
constexpr std::size_t kRegistryBufferSize = 260;

// The first library of another processor seen by the current search,
// named in the trail when the search ends with nothing. Searches run one at
// a time (start-up's, or a test's).
std::string other_machine_library;

bool Readable(const std::string& path) {
  return platform::Access(path, platform::AccessMode::kRead);
}

const char* WhyNotReadable(const std::string& path) {
  return platform::Access(path, platform::AccessMode::kExists) ? "unreadable" : "missing";
}

// A candidate library is chosen when it can be read and is built for this
// launcher's processor; one of another processor could never load, so the
// search goes on past it.
bool Usable(const std::string& path) {
  if (!Readable(path)) {
    NXO_TRAIL("search", "  %s: %s", path.c_str(), WhyNotReadable(path));
    return false;
  }
  const Machine machine = LibraryMachine(path);
  if (!Loadable(machine)) {
    NXO_TRAIL("search", "  %s: wrong architecture (%s; this launcher is %s)", path.c_str(),
              MachineName(machine), MachineName(OwnMachine()));
    if (other_machine_library.empty()) other_machine_library = path;
    return false;
  }
  NXO_TRAIL("search", "  %s: usable", path.c_str());
  return true;
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
  if (Usable(direct)) return direct;
  if (HasFlavour(config)) {
    std::string preferred = directory + config.VmSetting() + "/" + library;
    if (Usable(preferred)) return preferred;
  }
  std::string found;
  platform::ListDirectory(directory + "*", [&](const platform::DirectoryEntry& entry) {
    if (!entry.is_directory || entry.name == "." || entry.name == "..") return true;
    std::string candidate = directory + entry.name + "/" + library;
    if (!Usable(candidate)) return true;
    found = candidate;
    return false;
  });
  return found;
}

std::string SearchExplicitLibrary(const config::LaunchConfig& config) {
  std::string value = config::keys::JvmDll(config);
  if (value.empty()) return std::string();
  std::string path = config.ResolveConfigPath(value);
  return Usable(path) ? path : std::string();
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

// Vendor keys list every installed version: the newest that the version
// bounds admit, and that holds a usable library, wins.
std::string SearchVendorRuntimes(const config::LaunchConfig& config) {
  const std::string min_jre = config::keys::MinJre(config);
  const std::string max_jre = config::keys::MaxJre(config);
  for (const VendorRuntime& runtime : ListVendorRuntimes()) {
    if (!VersionWithinBounds(runtime.version, min_jre, max_jre)) {
      NXO_TRAIL("search", " %s: version %s outside the version bounds [%s, %s]",
                runtime.key.c_str(), runtime.version.c_str(), min_jre.c_str(), max_jre.c_str());
      continue;
    }
    NXO_TRAIL("search", " %s: version %s, home %s", runtime.key.c_str(), runtime.version.c_str(),
              runtime.home.c_str());
    std::string found = ProbeRuntimeHome(config, runtime.home);
    if (!found.empty()) return found;
  }
  return std::string();
}

// The home of a launcher found in .../bin: the directory above bin.
std::string HomeOfLauncher(const std::string& launcher) {
  std::string bin = DirectoryPart(launcher);
  if (bin.empty()) return std::string();
  bin.pop_back();
  std::string home = DirectoryPart(bin);
  return home.empty() ? bin : home;
}

// The first java launcher on PATH, followed through its links to the
// runtime it belongs to.
std::string SearchPathLauncher(const config::LaunchConfig& config) {
  const std::optional<std::string> path = platform::GetEnvironment("PATH");
  if (!path) return std::string();
  const char separator = platform::PathListSeparator();
  std::size_t start = 0;
  while (start <= path->size()) {
    std::size_t end = path->find(separator, start);
    if (end == std::string::npos) end = path->size();
    const std::string directory = path->substr(start, end - start);
    start = end + 1;
    if (directory.empty()) continue;
    const std::string launcher = WithTrailingSeparator(directory) + JavaLauncherName();
    if (!platform::Access(launcher, platform::AccessMode::kExists)) continue;
    const std::string resolved = platform::ResolveLinks(launcher);
    NXO_TRAIL("search", " %s on PATH resolves to %s", launcher.c_str(),
              resolved.empty() ? "nothing" : resolved.c_str());
    if (resolved.empty()) return std::string();
    return ProbeRuntimeHome(config, HomeOfLauncher(resolved));
  }
  NXO_TRAIL("search", " no %s on PATH", JavaLauncherName().c_str());
  return std::string();
}

const char* SourceName(char letter) {
  switch (letter) {
    case 'c': return "the jvmdll key";
    case 'b': return "the runtime beside the application";
    case 's': return "the JavaSoft registry keys";
    case 'i': return "the IBM registry key";
    case 'e': return "JRE_HOME and JAVA_HOME";
    case 'v': return "the vendors' registry keys";
    case 'p': return "the java launcher on PATH";
    default: return "nothing (not a source letter)";
  }
}

std::string SearchSource(const config::LaunchConfig& config, char letter) {
  NXO_TRAIL("search", "letter %c: %s", letter, SourceName(letter));
  switch (letter) {
    case 'c': return SearchExplicitLibrary(config);
    case 'b': return SearchBesideApplication(config);
    case 's': return SearchInstalledRuntimes(config);
    case 'i': return ReadRegistryRuntime(config, kIbmKey);
    case 'e': return ReadEnvironmentRuntime(config);
    case 'v': return SearchVendorRuntimes(config);
    case 'p': return SearchPathLauncher(config);
    default: return std::string();
  }
}

std::string SourceOrder(const config::LaunchConfig& config) {
  std::string order = config::keys::JreOrder(config);
  for (char& c : order) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (order.find_first_of(kSourceLetters) == std::string::npos) return kDefaultJreOrder;
  return order;
}

}  // namespace

std::string SearchJvmLibrary(const config::LaunchConfig& config) {
  other_machine_library.clear();
  const std::string order = SourceOrder(config);
  NXO_TRAIL("search", "order \"%s\"", order.c_str());
  std::string found;
  for (char letter : order) {
    found = SearchSource(config, letter);
    if (!found.empty()) break;
  }
  if (!found.empty()) {
    NXO_TRAIL("search", "chosen %s", found.c_str());
  } else if (!other_machine_library.empty()) {
    NXO_TRAIL("search", "no runtime found; one for another architecture was seen: %s (%s)",
              other_machine_library.c_str(), MachineName(LibraryMachine(other_machine_library)));
  } else {
    NXO_TRAIL("search", "no runtime found");
  }
  return found;
}

const std::string& JvmLibrarySearch::Locate(const config::LaunchConfig& config) {
  if (!outcome_) outcome_ = SearchJvmLibrary(config);
  return *outcome_;
}

std::string ProbeRuntimeHome(const config::LaunchConfig& config, const std::string& home) {
  const std::string base = WithTrailingSeparator(home);
  NXO_TRAIL("search", " home %s", base.c_str());
  for (const std::string& suffix : RuntimeHomeSuffixes()) {
    std::string found = ProbeDirectory(config, base + suffix);
    if (!found.empty()) return found;
  }
  return std::string();
}

std::string ReadRegistryRuntime(const config::LaunchConfig& config, const std::string& key_path) {
  std::string version;
  if (!ReadRegistryString(key_path, "CurrentVersion", version)) {
    NXO_TRAIL("search", " %s: no CurrentVersion", key_path.c_str());
    return std::string();
  }
  const std::string version_key = key_path + "\\" + version;
  NXO_TRAIL("search", " %s: CurrentVersion %s", key_path.c_str(), version.c_str());

  std::string runtime_lib;
  if (ReadRegistryString(version_key, "RuntimeLib", runtime_lib)) {
    if (!HasFlavour(config) && Usable(runtime_lib)) return runtime_lib;
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
    if (!home || home->empty()) {
      NXO_TRAIL("search", " %s is not set", name);
      continue;
    }
    NXO_TRAIL("search", " %s=%s", name, home->c_str());
    std::string found = ProbeRuntimeHome(config, *home);
    if (!found.empty()) return found;
  }
  return std::string();
}

}  // namespace nxo::runtime
