// One accessor per single-valued configuration key, with the scope, form and
// post-processing of the key table. Multi-valued keys are read with
// LaunchConfig::CollectValues or ForEachValue.
#pragma once

#include <string>

#include "config/launch_config.h"

namespace nxo::config::keys {

// Embedded configuration only.
std::string MainClass(const LaunchConfig& config);
std::string Compatible(const LaunchConfig& config);
std::string DisableExternal(const LaunchConfig& config);

// Whole text, as written.
std::string MinJre(const LaunchConfig& config);
std::string MaxJre(const LaunchConfig& config);
std::string JreOrder(const LaunchConfig& config);
std::string AppId(const LaunchConfig& config);
std::string SingleInstance(const LaunchConfig& config);
std::string Wildcard(const LaunchConfig& config);
std::string SplashTitle(const LaunchConfig& config);
std::string SplashCloseOnWindow(const LaunchConfig& config);
std::string AsSystemClassLoader(const LaunchConfig& config);
std::string UseJarProtocol(const LaunchConfig& config);
std::string FakeClassBytes(const LaunchConfig& config);

// Whole text, expanded.
std::string Jre(const LaunchConfig& config);
std::string JvmDll(const LaunchConfig& config);
std::string Splash(const LaunchConfig& config);
std::string Stdout(const LaunchConfig& config);
std::string Stderr(const LaunchConfig& config);
std::string ForceCwd(const LaunchConfig& config);

// "-XstartOnFirstThread" when an option line begins with it, as written.
std::string StartOnFirstThreadOption(const LaunchConfig& config);

}  // namespace nxo::config::keys
