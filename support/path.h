// Path text as the launcher composes it: "\" and "/" both separate, on every
// platform, because configured paths may use either.
#pragma once

#include <string>

namespace nxo {

bool IsPathSeparator(char c);

// |directory| with "/" appended unless it already ends with a separator.
std::string WithTrailingSeparator(std::string directory);

// |path| up to and including its last separator; empty when it has none.
std::string DirectoryPart(const std::string& path);

}  // namespace nxo
