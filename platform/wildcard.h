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

}  // namespace nxo::platform
