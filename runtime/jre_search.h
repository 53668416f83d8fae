// Finding the Java runtime: the one JVM library path the process will load.
//
// A configurable order of sources (the configuration's explicit path, a
// runtime beside the application, the installed runtimes, the environment)
// names runtime homes; below each home a fixed list of candidate
// directories is probed. The first readable library wins. A launcher searches
// once and keeps the outcome (JvmLibrarySearch) for the rest of the process.
#pragma once

#include <optional>
#include <string>

#include "config/launch_config.h"

namespace nxo::runtime {

// Registry keys of installed runtimes, under HKEY_LOCAL_MACHINE, in the order
// the "s" source reads them; and the one key of the "i" source.
inline constexpr const char* kJavaSoftKeys[] = {
    "SOFTWARE\\JavaSoft\\JRE",
    "SOFTWARE\\JavaSoft\\JDK",
    "SOFTWARE\\JavaSoft\\Java Runtime Environment",
    "SOFTWARE\\JavaSoft\\Java Development Kit",
};
inline constexpr const char* kIbmKey = "SOFTWARE\\IBM\\Java2 Runtime Environment";

// The launcher's own order when jre_order names no source.
inline constexpr const char* kDefaultJreOrder = "cbsie";

// Every source letter: besides the five above, "v" reads the runtimes that
// vendors register under keys of their own (newest first, within
// minjre/maxjre) and "p" follows the java launcher on PATH to its runtime.
inline constexpr const char* kSourceLetters = "cbsievp";

// One search through the configured sources: the JVM library found, or ""
// when there is none.
std::string SearchJvmLibrary(const config::LaunchConfig& config);

// The search's outcome, remembered: the first Locate searches, and every
// later one returns that outcome (also "none found") whatever configuration
// it is given, so every step of start-up sees the same runtime.
class JvmLibrarySearch {
 public:
  const std::string& Locate(const config::LaunchConfig& config);

 private:
  std::optional<std::string> outcome_;
};

// The first readable JVM library below |home|, or "".
std::string ProbeRuntimeHome(const config::LaunchConfig& config, const std::string& home);

// The JVM library of the runtime one registry key names, or "".
std::string ReadRegistryRuntime(const config::LaunchConfig& config, const std::string& key_path);

// The JVM library below JRE_HOME, else below JAVA_HOME, or "".
std::string ReadEnvironmentRuntime(const config::LaunchConfig& config);

}  // namespace nxo::runtime
