// The start-up sequence: from process entry to the launch and back.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/launch.h"

namespace nxo::launcher {

// What the launch receives; all zero to begin with.
struct LaunchRequest {
  std::int32_t argument_count = 0;
  char** arguments = nullptr;
  StartupHookFunction startup_hook = nullptr;
  std::int32_t extra_count = 0;
  char** extra_arguments = nullptr;
  std::int32_t result = 0;
};

// Runs the launch and unloads the JVM afterwards; shaped for a thread.
unsigned RunLaunch(void* request);

// Resolves |path| against |base| as the system does for "forcecwd" and
// returns the length the system reports for the full path.
std::uint32_t ResolvePathAgainst(const std::string& base, const std::string& path,
                                 std::uint32_t capacity, std::string& full);

// Makes |path| (relative to the application directory) the current
// directory; silently nothing when it cannot be.
void ForceWorkingDirectory(const std::string& application_directory, const std::string& path);

// The integrity check of start-up: true when the executable carries no
// payload, has the check switched off, or its digest matches.
bool ExecutableIsIntact(const std::string& executable_path);

// The whole sequence; returns the process exit code.
int RunStartup(int argc, char** argv);

}  // namespace nxo::launcher
