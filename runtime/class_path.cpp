#include "runtime/class_path.h"

#include <algorithm>
#include <vector>

#include "platform/platform.h"
#include "platform/wildcard.h"
#include "support/path.h"
#include "support/text.h"

namespace nxo::runtime {

namespace {

// Configuration lines separate entries by ";" on every platform, so one
// configuration serves all of them; the platform's own separator is
// accepted as well.
bool IsEntrySeparator(char c) { return c == ';' || c == platform::PathListSeparator(); }

bool IsArchiveName(const std::string& name) {
  std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return false;
  std::string_view extension = std::string_view(name).substr(dot);
  return EqualsIgnoreCase(extension, ".jar") || EqualsIgnoreCase(extension, ".zip");
}

void AppendEntry(std::string& accumulator, std::string_view entry) {
  accumulator.push_back(platform::PathListSeparator());
  accumulator.append(entry);
}

void AppendPiece(const config::LaunchConfig& config, std::string& accumulator,
                 std::string_view piece) {
  std::string expanded = config.ExpandValue(piece, false);
  if (expanded.find_first_of("*?") != std::string::npos) {
    // Matches are taken as the expansion gives them: relative patterns are
    // matched against the current directory.
    StringList matches;
    platform::FindWildcardMatches(expanded, matches);
    for (std::size_t i = 0; i < matches.Size(); ++i) AppendEntry(accumulator, matches.View(i));
    return;
  }
  AppendEntry(accumulator, config.ResolveConfigPath(expanded));
}

}  // namespace

void AppendClassPathEntries(const config::LaunchConfig& config, std::string& accumulator,
                            std::string_view value) {
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t end = start;
    while (end < value.size() && !IsEntrySeparator(value[end])) ++end;
    if (end > start) AppendPiece(config, accumulator, value.substr(start, end - start));
    start = end + 1;
  }
}

namespace {

// Each directory is walked once, however many links lead to it, so that a
// link loop can neither repeat archives nor keep the walk going for ever. A
// directory that cannot be identified cannot be known to be new: it is left
// out. The directories seen are kept sorted in a vector: the same lookup as
// a std::set, without the tree code it brings into the stub.
void CollectArchivesOnce(const std::string& directory, std::string& accumulator,
                         std::vector<platform::FileIdentity>& visited) {
  platform::FileIdentity identity;
  if (!platform::IdentifyFile(directory, identity)) return;
  auto place = std::lower_bound(visited.begin(), visited.end(), identity);
  if (place != visited.end() && !(identity < *place)) return;
  visited.insert(place, identity);
  const std::string base = WithTrailingSeparator(directory);
  platform::ListDirectory(base + "*", [&](const platform::DirectoryEntry& entry) {
    if (entry.is_directory) {
      if (entry.name != "." && entry.name != "..")
        CollectArchivesOnce(base + entry.name, accumulator, visited);
    } else if (IsArchiveName(entry.name)) {
      AppendEntry(accumulator, base + entry.name);
    }
    return true;
  });
}

}  // namespace

void CollectArchives(const std::string& directory, std::string& accumulator) {
  // An empty name is no directory (it would otherwise read as the root).
  if (directory.empty()) return;
  std::vector<platform::FileIdentity> visited;
  CollectArchivesOnce(directory, accumulator, visited);
}

std::string BuildClassPath(const config::LaunchConfig& config, ClassPathKind kind) {
  const bool jvm = kind == ClassPathKind::kJvm;
  using config::LookupScope;
  using config::ValueForm;

  std::string entries;
  config.ForEachValue(jvm ? "java_classpath" : "classpath", LookupScope::kWholeText, ValueForm::kAnsi,
                      [&](const std::string& value) { AppendClassPathEntries(config, entries, value); });
  std::string result = jvm ? config.ExecutablePath() + entries : entries;

  StringList directories;
  config.CollectValues(jvm ? "java_libs" : "libs", directories, LookupScope::kWholeText,
                       ValueForm::kAnsi);
  for (std::size_t i = 0; i < directories.Size(); ++i) {
    // An empty value adds nothing, as a missing key does.
    if (directories.View(i).empty()) continue;
    std::string archives;
    CollectArchives(config.ResolveConfigPath(std::string(directories.View(i))), archives);
    result += archives;
  }

  if (!jvm) {
    for (const char* name : {"CLASSPATH", "CLASS_PATH"}) {
      std::optional<std::string> value = platform::GetEnvironment(name);
      if (value && !value->empty()) AppendEntry(result, *value);
    }
  }
  return result;
}

}  // namespace nxo::runtime
