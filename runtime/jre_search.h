// Finding the Java runtime: the one JVM library path the process will load.
//
// A configurable order of sources (the configuration's explicit path, a
// runtime beside the application, the installed runtimes, the environment)
// names runtime homes; below each home a fixed list of candidate
// directories is probed. The first readable library wins. The search runs
// once per process and its outcome is remembered.
#pragma once

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

inline constexpr const char* kDefaultJreOrder = "cbsie";

// The remembered outcome, searching first if there is none yet. Empty means
// no runtime was found (and stays so for the rest of the process).
std::string LocateJvmLibrary(const config::LaunchConfig& config);

// The first readable JVM library below |home|, or "".
std::string ProbeRuntimeHome(const config::LaunchConfig& config, const std::string& home);

// The JVM library of the runtime one registry key names, or "".
std::string ReadRegistryRuntime(const config::LaunchConfig& config, const std::string& key_path);

// The JVM library below JRE_HOME, else below JAVA_HOME, or "".
std::string ReadEnvironmentRuntime(const config::LaunchConfig& config);

// Forgets the remembered outcome. Only tests call this: in a launcher the
// outcome is fixed for the life of the process.
void ResetJreSearchForTesting();

}  // namespace nxo::runtime
