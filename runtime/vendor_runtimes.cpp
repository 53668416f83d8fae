#include "runtime/vendor_runtimes.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/platform.h"

namespace nxo::runtime {

namespace {

enum class Layout {
  // <root>\<version>\<jvm>\MSI with "Path" (older installers: <version>\MSI).
  kMsiPath,
  // <root>\<name> with "InstallationPath" and often "CurrentVersion".
  kInstallationPath,
  // <root>\<version> with "JavaHome".
  kJavaHome,
};

struct VendorKey {
  const char* root;
  Layout layout;
};

// In the order runtimes of the same version are preferred.
constexpr VendorKey kVendorKeys[] = {
    {"SOFTWARE\\Eclipse Adoptium\\JDK", Layout::kMsiPath},
    {"SOFTWARE\\Eclipse Adoptium\\JRE", Layout::kMsiPath},
    {"SOFTWARE\\Eclipse Foundation\\JDK", Layout::kMsiPath},
    {"SOFTWARE\\Eclipse Foundation\\JRE", Layout::kMsiPath},
    {"SOFTWARE\\AdoptOpenJDK\\JDK", Layout::kMsiPath},
    {"SOFTWARE\\AdoptOpenJDK\\JRE", Layout::kMsiPath},
    {"SOFTWARE\\Microsoft\\JDK", Layout::kMsiPath},
    {"SOFTWARE\\Semeru\\JDK", Layout::kMsiPath},
    {"SOFTWARE\\Semeru\\JRE", Layout::kMsiPath},
    {"SOFTWARE\\Azul Systems\\Zulu", Layout::kInstallationPath},
    {"SOFTWARE\\Azul Systems\\Zulu 32-bit", Layout::kInstallationPath},
    {"SOFTWARE\\BellSoft\\Liberica", Layout::kInstallationPath},
    {"SOFTWARE\\JavaSoft\\JDK", Layout::kJavaHome},
    {"SOFTWARE\\JavaSoft\\JRE", Layout::kJavaHome},
};

// The JVM level of the MSI layout; "" is the older layout without one.
constexpr const char* kJvmNames[] = {"hotspot", "openj9", "dragonwell", ""};

// Registry strings longer than this count as missing, as in the other
// registry sources.
constexpr std::size_t kRegistryBufferSize = 260;

bool ReadString(const std::string& key, const char* name, std::string& text) {
  platform::RegistryValue value;
  if (!platform::ReadRegistryValue(platform::RegistryRoot::kLocalMachine, key, name, value))
    return false;
  if (value.type != platform::RegistryType::kString &&
      value.type != platform::RegistryType::kExpandString)
    return false;
  if (value.data.size() > kRegistryBufferSize) return false;
  text.assign(value.data.begin(), value.data.end());
  text.resize(std::min(text.size(), text.find('\0')));
  return !text.empty();
}

bool ReadHome(const std::string& version_key, Layout layout, std::string& home,
              std::string& version) {
  switch (layout) {
    case Layout::kMsiPath:
      for (const char* jvm : kJvmNames) {
        std::string key = version_key + (*jvm ? std::string("\\") + jvm : "") + "\\MSI";
        if (ReadString(key, "Path", home)) return true;
      }
      return false;
    case Layout::kInstallationPath:
      if (!ReadString(version_key, "InstallationPath", home)) return false;
      ReadString(version_key, "CurrentVersion", version);
      return true;
    case Layout::kJavaHome:
      return ReadString(version_key, "JavaHome", home);
  }
  return false;
}

bool Newer(const VendorRuntime& a, const VendorRuntime& b) {
  return JavaVersionNumbers(a.version) > JavaVersionNumbers(b.version);
}

int CompareOverShorter(const std::vector<int>& a, const std::vector<int>& b) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

// Numbers as the launcher's scanf-based reading of a bound sees them.
std::vector<int> BoundNumbers(const std::string& bound) {
  std::vector<int> numbers;
  std::size_t at = 0;
  while (numbers.size() < 4 && at < bound.size()) {
    if (!std::isdigit(static_cast<unsigned char>(bound[at]))) {
      if (numbers.empty()) break;
      ++at;
      continue;
    }
    numbers.push_back(std::atoi(bound.c_str() + at));
    while (at < bound.size() && std::isdigit(static_cast<unsigned char>(bound[at]))) ++at;
  }
  return numbers;
}

}  // namespace

std::vector<int> JavaVersionNumbers(const std::string& version) {
  std::vector<int> numbers;
  std::size_t at = 0;
  while (numbers.size() < 5 && at < version.size()) {
    if (!std::isdigit(static_cast<unsigned char>(version[at]))) {
      ++at;
      continue;
    }
    numbers.push_back(std::atoi(version.c_str() + at));
    while (at < version.size() && std::isdigit(static_cast<unsigned char>(version[at]))) ++at;
  }
  // Vendors number Java 8 as "8..."; java.version says "1.8...".
  if (!numbers.empty() && numbers[0] > 1 && numbers[0] < 9) numbers.insert(numbers.begin(), 1);
  if (numbers.size() > 4) numbers.resize(4);
  return numbers;
}

bool VersionWithinBounds(const std::string& version, const std::string& min_jre,
                         const std::string& max_jre) {
  const std::vector<int> have = JavaVersionNumbers(version);
  if (!min_jre.empty() && CompareOverShorter(have, BoundNumbers(min_jre)) < 0) return false;
  if (!max_jre.empty() && CompareOverShorter(have, BoundNumbers(max_jre)) > 0) return false;
  return true;
}

std::vector<VendorRuntime> ListVendorRuntimes() {
  std::vector<VendorRuntime> runtimes;
  for (const VendorKey& vendor : kVendorKeys) {
    std::vector<std::string> names;
    if (!platform::ListRegistrySubkeys(platform::RegistryRoot::kLocalMachine, vendor.root, names))
      continue;
    for (const std::string& name : names) {
      VendorRuntime runtime;
      runtime.key = std::string(vendor.root) + "\\" + name;
      runtime.version = name;
      if (!ReadHome(runtime.key, vendor.layout, runtime.home, runtime.version)) continue;
      // Newest first, each after those of its own version so that equal
      // versions keep the vendor table's order. The list is a handful of
      // runtimes: placing each as it comes is a fraction of the code a
      // stable sort of these records instantiates.
      auto place = std::upper_bound(runtimes.begin(), runtimes.end(), runtime, Newer);
      runtimes.insert(place, std::move(runtime));
    }
  }
  return runtimes;
}

}  // namespace nxo::runtime
