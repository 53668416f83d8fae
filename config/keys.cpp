#include "config/keys.h"

#include "support/text.h"
#include "support/trail.h"

namespace nxo::config {

std::optional<bool> ParseFlag(std::string_view value) {
  if (EqualsIgnoreCase(value, "true")) return true;
  if (EqualsIgnoreCase(value, "false")) return false;
  return std::nullopt;
}

namespace keys {

namespace {

std::string Traced(const char* key, std::string value) {
  NXO_TRAIL("config", "%s = \"%s\"", key, value.c_str());
  return value;
}

std::string Embedded(const LaunchConfig& config, const char* key) {
  return Traced(key, config.FindValue(key, LookupScope::kEmbeddedOnly, ValueForm::kAnsi));
}

std::string Whole(const LaunchConfig& config, const char* key) {
  return Traced(key, config.FindValue(key, LookupScope::kWholeText, ValueForm::kAnsi));
}

// Traced once, after expansion.
std::string Expanded(const LaunchConfig& config, const char* key) {
  return Traced(key, config.ExpandValue(
                         config.FindValue(key, LookupScope::kWholeText, ValueForm::kAnsi), false));
}

bool Flag(const std::string& value, bool default_value) {
  return ParseFlag(value).value_or(default_value);
}

}  // namespace

std::string MainClass(const LaunchConfig& config) { return Embedded(config, "mainclass"); }
bool Compatible(const LaunchConfig& config) { return Flag(Embedded(config, "compatible"), false); }
bool DisableExternal(const LaunchConfig& config) {
  return Flag(Embedded(config, "disableexternal"), false);
}

std::string MinJre(const LaunchConfig& config) { return Whole(config, "minjre"); }
std::string MaxJre(const LaunchConfig& config) { return Whole(config, "maxjre"); }
std::string JreOrder(const LaunchConfig& config) { return Whole(config, "jre_order"); }
std::string AppId(const LaunchConfig& config) { return Whole(config, "appid"); }
std::string SingleInstance(const LaunchConfig& config) { return Whole(config, "singleinstance"); }
std::string Wildcard(const LaunchConfig& config) { return Whole(config, "wildcard"); }
std::string SplashTitle(const LaunchConfig& config) { return Whole(config, "splashtitle"); }

SingleInstanceMode InstanceMode(const LaunchConfig& config) {
  const std::string value = SingleInstance(config);
  if (ParseFlag(value) == true) return SingleInstanceMode::kLock;
  if (EqualsIgnoreCase(value, "custom")) return SingleInstanceMode::kCustom;
  return SingleInstanceMode::kOff;
}

WildcardMode WildcardExpansion(const LaunchConfig& config) {
  const std::string value = Wildcard(config);
  if (ParseFlag(value) == true || EqualsIgnoreCase(value, "auto")) return WildcardMode::kPlain;
  if (EqualsIgnoreCase(value, "all")) return WildcardMode::kAll;
  return WildcardMode::kOff;
}

bool SplashCloseOnWindow(const LaunchConfig& config) {
  return Flag(Whole(config, "splashcloseonwindow"), false);
}
bool AsSystemClassLoader(const LaunchConfig& config) {
  return Flag(Whole(config, "assystemclassloader"), false);
}
bool UseJarProtocol(const LaunchConfig& config) { return Flag(Whole(config, "usejarprotocol"), true); }
bool FakeClassBytes(const LaunchConfig& config) { return Flag(Whole(config, "fakeclassbytes"), true); }

ClassDataSharingMode ClassDataSharing(const LaunchConfig& config) {
  return EqualsIgnoreCase(Whole(config, "classdatasharing"), "auto") ? ClassDataSharingMode::kAuto
                                                                     : ClassDataSharingMode::kOff;
}

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

}  // namespace keys
}  // namespace nxo::config
