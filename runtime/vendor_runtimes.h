// Runtimes that vendors' installers register under keys of their own, which
// the JavaSoft and IBM sources never read: Eclipse Adoptium (and its earlier
// names AdoptOpenJDK and Eclipse Foundation), Microsoft, IBM Semeru, Azul
// Zulu, BellSoft Liberica, and Amazon Corretto's JavaSoft version keys. The
// key layouts and where each is documented are listed in
// docs/configuration.md.
#pragma once

#include <string>
#include <vector>

namespace nxo::runtime {

// One registered runtime.
struct VendorRuntime {
  std::string key;      // the registry key that names it
  std::string version;  // as the key gives it: "21.0.1.12", "zulu-17", "1.8.0_392"
  std::string home;     // the runtime's home directory
};

// Every runtime the vendor keys list in this process's registry view,
// newest version first; runtimes of equal version keep the order of the
// vendor table. Empty where there is no registry.
std::vector<VendorRuntime> ListVendorRuntimes();

// The numbers of a version text in the form java.version has: "8.0.392.8"
// and "zulu-8" become 1.8..., "1.8.0_392" and "17.0.2" stay as they are.
// At most four numbers, like the launcher's own version check.
std::vector<int> JavaVersionNumbers(const std::string& version);

// Whether |version| lies within the minjre/maxjre bounds (either may be
// empty), compared number by number over the shorter of the two, as the
// launcher compares the running JVM's version.
bool VersionWithinBounds(const std::string& version, const std::string& min_jre,
                         const std::string& max_jre);

}  // namespace nxo::runtime
