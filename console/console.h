// Standard streams and console control, as start-up and the launch see them.
//
// Only the seam exists so far: redirection requests change nothing, and the
// start-up hook installs nothing.
#pragma once

#include <string>

namespace nxo::console {

// Redirects standard error, then standard output, to a file or a command.
void RedirectStandardError(const std::string& target);
void RedirectStandardOutput(const std::string& target);

// Called by the launch once the JVM exists, before the start class runs.
void StartupHook();

}  // namespace nxo::console
