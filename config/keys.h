// One accessor per single-valued configuration key, with the scope, form and
// post-processing of the key table. Flags read as bool and modes as enums, so
// that no caller spells a keyword out. Multi-valued keys are read with
// LaunchConfig::CollectValues or ForEachValue.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "config/launch_config.h"

namespace nxo::config {

// The one reading of a flag: "true" or "false" in any letter case, as the
// whole value (a blank around it makes it neither). Anything else, and an
// absent key, is neither, and the key keeps its default.
std::optional<bool> ParseFlag(std::string_view value);

enum class SingleInstanceMode {
  kOff,     // any other value
  kLock,    // "true": a second instance shows message 13 and ends
  kCustom,  // "custom": the application handles other instances itself
};

enum class WildcardMode {
  kOff,    // arguments are passed as they are
  kPlain,  // "true" or "auto": wildcards outside double quotes are expanded
  kAll,    // "all": every wildcard is expanded
};

enum class ClassDataSharingMode {
  kOff,   // any other value: the JVM's own default archive only
  kAuto,  // "auto": the launcher keeps an archive of the application's classes
};

namespace keys {

// Embedded configuration only.
std::string MainClass(const LaunchConfig& config);
bool Compatible(const LaunchConfig& config);       // default off
bool DisableExternal(const LaunchConfig& config);  // default off

// Whole text, as written.
std::string MinJre(const LaunchConfig& config);
std::string MaxJre(const LaunchConfig& config);
std::string JreOrder(const LaunchConfig& config);
std::string AppId(const LaunchConfig& config);
std::string SingleInstance(const LaunchConfig& config);
std::string Wildcard(const LaunchConfig& config);
std::string SplashTitle(const LaunchConfig& config);

// Whole text, read as a flag or mode.
SingleInstanceMode InstanceMode(const LaunchConfig& config);
WildcardMode WildcardExpansion(const LaunchConfig& config);
bool SplashCloseOnWindow(const LaunchConfig& config);  // default off
bool AsSystemClassLoader(const LaunchConfig& config);  // default off
bool UseJarProtocol(const LaunchConfig& config);       // default on
bool FakeClassBytes(const LaunchConfig& config);       // default on
ClassDataSharingMode ClassDataSharing(const LaunchConfig& config);  // default off

// Whole text, expanded.
std::string Jre(const LaunchConfig& config);
std::string JvmDll(const LaunchConfig& config);
std::string Splash(const LaunchConfig& config);
std::string Stdout(const LaunchConfig& config);
std::string Stderr(const LaunchConfig& config);
std::string ForceCwd(const LaunchConfig& config);

// "-XstartOnFirstThread" when an option line begins with it, as written.
std::string StartOnFirstThreadOption(const LaunchConfig& config);

}  // namespace keys
}  // namespace nxo::config
