// File-name wildcards, matched the way a Unix shell expands them. Portable
// code above the seam: it needs only the seam's directory listing and its
// access test, so the launcher's command line and the runtime's class path
// share it without depending on each other.
#pragma once

#include <string>

#include "support/string_list.h"

namespace nxo::platform {

// Appends every existing path that |pattern| names, in the file system's
// listing order. Several components may hold wildcards; a pattern without
// any names itself if the path exists.
void FindWildcardMatches(const std::string& pattern, StringList& matches);

// Matches one file-name component against a pattern in which "*" stands for
// any run of characters and "?" for any one; every other character, "[" and
// "]" included, stands for itself. A leading "." is an ordinary character, so
// "*" takes hidden files as it does on Windows. The platforms' MatchFileName
// use this, differing only in case.
bool MatchesNamePattern(const std::string& pattern, const std::string& name, bool ignore_case);

}  // namespace nxo::platform
