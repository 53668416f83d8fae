#include "platform/wildcard.h"

#include <cctype>

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

bool MatchesNamePattern(const std::string& pattern, const std::string& name, bool ignore_case) {
  auto same = [&](char a, char b) {
    if (a == b) return true;
    return ignore_case && std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
  };
  // Backtracking to the last "*" is enough: an earlier one can never need to
  // take more characters than the last one can.
  std::size_t p = 0, n = 0, star = std::string::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && same(pattern[p], name[n])))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace nxo::platform
