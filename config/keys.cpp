#include "config/keys.h"

namespace nxo::config::keys {

namespace {

std::string Embedded(const LaunchConfig& config, const char* key) {
  return config.FindValue(key, LookupScope::kEmbeddedOnly, ValueForm::kAnsi);
}

std::string Whole(const LaunchConfig& config, const char* key) {
  return config.FindValue(key, LookupScope::kWholeText, ValueForm::kAnsi);
}

std::string Expanded(const LaunchConfig& config, const char* key) {
  return config.ExpandValue(Whole(config, key), false);
}

}  // namespace

std::string MainClass(const LaunchConfig& config) { return Embedded(config, "mainclass"); }
std::string Compatible(const LaunchConfig& config) { return Embedded(config, "compatible"); }
std::string DisableExternal(const LaunchConfig& config) { return Embedded(config, "disableexternal"); }

std::string MinJre(const LaunchConfig& config) { return Whole(config, "minjre"); }
std::string MaxJre(const LaunchConfig& config) { return Whole(config, "maxjre"); }
std::string JreOrder(const LaunchConfig& config) { return Whole(config, "jre_order"); }
std::string AppId(const LaunchConfig& config) { return Whole(config, "appid"); }
std::string SingleInstance(const LaunchConfig& config) { return Whole(config, "singleinstance"); }
std::string Wildcard(const LaunchConfig& config) { return Whole(config, "wildcard"); }
std::string SplashTitle(const LaunchConfig& config) { return Whole(config, "splashtitle"); }
std::string SplashCloseOnWindow(const LaunchConfig& config) {
  return Whole(config, "splashcloseonwindow");
}
std::string AsSystemClassLoader(const LaunchConfig& config) {
  return Whole(config, "assystemclassloader");
}
std::string UseJarProtocol(const LaunchConfig& config) { return Whole(config, "usejarprotocol"); }
std::string FakeClassBytes(const LaunchConfig& config) { return Whole(config, "fakeclassbytes"); }

std::string Jre(const LaunchConfig& config) { return Expanded(config, "jre"); }
std::string JvmDll(const LaunchConfig& config) { return Expanded(config, "jvmdll"); }
std::string Splash(const LaunchConfig& config) { return Expanded(config, "splash"); }
std::string Stdout(const LaunchConfig& config) { return Expanded(config, "stdout"); }
std::string Stderr(const LaunchConfig& config) { return Expanded(config, "stderr"); }
std::string ForceCwd(const LaunchConfig& config) { return Expanded(config, "forcecwd"); }

std::string StartOnFirstThreadOption(const LaunchConfig& config) {
  return config.FindValueWithPrefix("option", LookupScope::kWholeText, ValueForm::kAnsi,
                                    "-XstartOnFirstThread");
}

}  // namespace nxo::config::keys
