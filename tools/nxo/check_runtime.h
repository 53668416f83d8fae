// Running a packed executable's runtime search on this machine.
#pragma once

#include <string>

namespace nxo::tool {

// Prints the search part of the executable's trail and the runtime it would
// load; 0 when one was found, 1 when not or when it could not be run.
int CheckRuntime(const std::string& executable, bool windows);

}  // namespace nxo::tool
