// The Main-Class of a jar's manifest, read as "java -jar" reads it: the
// header of the manifest's main section, names compared without regard to
// case, continuation lines joined.
#pragma once

#include <cstdint>
#include <string>

#include "tools/nxo/status.h"
#include "tools/nxo/zip_format.h"

namespace nxo::tool {

// |main_class| gets the value, or stays empty when the jar has no manifest or
// the manifest names no main class. Fails only for an entry that cannot be read.
Status ReadManifestMainClass(const unsigned char* jar, std::uint64_t size, const zip::Directory& directory,
                             std::string& main_class);

// The Main-Class header of manifest text (empty when absent).
std::string ManifestMainClass(const std::string& manifest);

}  // namespace nxo::tool
