// The configuration block "nxo pack" writes: the configuration file's lines
// and the --set and --main-class settings, in the reader's own line grammar.
#pragma once

#include <string>

#include "tools/nxo/pack_options.h"
#include "tools/nxo/status.h"

namespace nxo::tool {

struct ConfigBlock {
  std::string bytes;       // BOM, lines ending in CR LF, one 0x00
  std::string main_class;  // empty when none is configured
};

// The block for |options|: the file's non-empty lines without those a --set
// or --main-class replaces, then the settings, as BOM-led UTF-8 lines ending
// in CR LF and one 0x00; and the main class the reader will see.
Status BuildConfigBlock(const PackOptions& options, ConfigBlock& block);

}  // namespace nxo::tool
