// A Java runtime on Linux.
#include "runtime/java_layout.h"

#include <algorithm>
#include <optional>

#include "platform/platform.h"

namespace nxo::runtime {

std::string JvmLibraryName() { return "libjvm.so"; }

std::vector<std::string> RuntimeHomeSuffixes() {
  // Java 9 and later keep lib/<flavour>/libjvm.so; Java 8 keeps it below
  // jre/lib/<architecture>, and a JDK home reaches its jre one level up. The
  // architecture directory is named for the one this launcher is built for
  // (NXO_JAVA_ARCH, set by the build: "amd64", "i386", "aarch64"...).
  const std::string java8 = std::string("jre/lib/") + NXO_JAVA_ARCH + "/";
  return {"", "lib/", java8, "../" + java8};
}

std::string JavaLauncherName() { return "java"; }

std::vector<std::string> SystemRuntimeHomes() {
  // The distribution's chosen runtime first, then every installed one in name
  // order, so the choice does not depend on the file system's listing order.
  const std::string root = "/usr/lib/jvm/";
  std::vector<std::string> names;
  platform::ListDirectory(root + "*", [&](const platform::DirectoryEntry& entry) {
    // Kept in order as they come: a few names, and less code than a sort.
    if (!entry.name.empty() && entry.name[0] != '.' && entry.name != "default-java")
      names.insert(std::upper_bound(names.begin(), names.end(), entry.name), entry.name);
    return true;
  });
  std::vector<std::string> homes{root + "default-java"};
  for (const std::string& name : names) homes.push_back(root + name);
  return homes;
}

bool RetryLibraryLoadWithPath() { return false; }

std::string SplashLibraryName() { return "libsplashscreen.so"; }

bool BindNativesByRegistration() { return true; }

std::string UserCacheDirectory() {
  const std::optional<std::string> xdg = platform::GetEnvironment("XDG_CACHE_HOME");
  if (xdg && !xdg->empty() && (*xdg)[0] == '/') return *xdg;
  const std::optional<std::string> home = platform::GetEnvironment("HOME");
  if (home && !home->empty() && (*home)[0] == '/') return *home + "/.cache";
  return std::string();
}

}  // namespace nxo::runtime
