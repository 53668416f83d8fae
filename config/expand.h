// References inside configuration values: environment variables, the
// launcher's own names and registry values.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nxo::config {

class LaunchConfig;

// APPLICATION_HOME, PWD, NXO_APP_PATH and HOME; nothing for other names.
std::optional<std::string> LookupLauncherName(const LaunchConfig& config, std::string_view name);

// "HKLM\Key\Value|default" and its relatives. An expandable-string value is
// itself expanded, |depth| levels deep at most; past that the reference is unresolved.
std::optional<std::string> ReadRegistryReference(const LaunchConfig& config, std::string_view name,
                                                 int depth);

// How deep expandable-string values may refer to further registry values.
inline constexpr int kMaxRegistryDepth = 8;

std::string ExpandValueAtDepth(const LaunchConfig& config, std::string_view text, bool to_utf8,
                               int depth);

}  // namespace nxo::config
