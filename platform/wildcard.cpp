#include "platform/wildcard.h"

#include "platform/platform.h"

namespace nxo::platform {

void FindWildcardMatches(const std::string& pattern, StringList& matches) {
  std::size_t wildcard = pattern.find_first_of("*?");
  if (wildcard == std::string::npos) {
    if (Access(pattern, AccessMode::kExists)) matches.Append(pattern);
    return;
  }
  std::size_t prefix_end = pattern.find_last_of("\\/", wildcard);
  std::string prefix = prefix_end == std::string::npos ? "" : pattern.substr(0, prefix_end + 1);
  std::size_t component_end = pattern.find_first_of("\\/", wildcard);
  bool last_component = component_end == std::string::npos;
  std::string listing = last_component ? pattern : pattern.substr(0, component_end);
  std::string rest = last_component ? "" : pattern.substr(component_end);

  ListDirectory(listing, [&](const DirectoryEntry& entry) {
    if (entry.name == "." || entry.name == "..") return true;
    if (last_component) {
      matches.Append(prefix + entry.name);
    } else if (entry.is_directory) {
      // Later components may hold wildcards of their own; a plain last
      // component counts only where that path exists.
      FindWildcardMatches(prefix + entry.name + rest, matches);
    }
    return true;
  });
}

}  // namespace nxo::platform
