// The two class paths handed to the JVM: its own ("-Djava.class.path=",
// the executable first) and the launcher's extra one ("-Dnxo.class.path="),
// which the launcher's class loader reads on the Java side.
#pragma once

#include <string>
#include <string_view>

#include "config/launch_config.h"

namespace nxo::runtime {

enum class ClassPathKind {
  kJvm = 0,    // executable, java_classpath lines, java_libs archives
  kExtra = 1,  // classpath lines, libs archives, CLASSPATH, CLASS_PATH
};

// Entries are joined by the platform's class-path separator; every entry is
// written as separator + entry, so a non-empty extra class path starts with
// the separator. Empty entries are never added.
std::string BuildClassPath(const config::LaunchConfig& config, ClassPathKind kind);

// Adds the entries of one list line: pieces separated by ";" (or the
// platform's own separator), each expanded; wildcard pieces add their matches,
// others are resolved against the application directory and added whether
// or not they exist.
void AppendClassPathEntries(const config::LaunchConfig& config, std::string& accumulator,
                            std::string_view value);

// Adds every ".jar" and ".zip" file (any letter case) below |directory|, at
// any depth, depth first in the listing's order. Each directory is visited
// once, whatever links lead back to it; an empty |directory| adds nothing.
void CollectArchives(const std::string& directory, std::string& accumulator);

}  // namespace nxo::runtime
