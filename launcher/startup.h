// The start-up sequence: from process entry to the launch and back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "launcher/launch.h"

namespace nxo::launcher {

// What the launch receives; all zero to begin with.
struct LaunchRequest {
  StartupContext* context = nullptr;
  std::int32_t argument_count = 0;
  char** arguments = nullptr;
  StartupHookFunction startup_hook = nullptr;
  std::int32_t result = 0;
};

// Runs the launch and unloads the JVM afterwards; shaped for a thread. A
// request without a context launches nothing and returns 0.
unsigned RunLaunch(void* request);

// Resolves |path| against |base| as the system does for "forcecwd": an
// absolute path (or one with a drive) as it is, a rooted one on the base's
// drive, anything else below the base. Nothing when the system cannot make
// the result a full path.
std::optional<std::string> ResolvePathAgainst(const std::string& base, const std::string& path);

// Makes |path| (relative to the application directory) the current
// directory; silently nothing when it cannot be.
void ForceWorkingDirectory(const std::string& application_directory, const std::string& path);

// The integrity check of start-up: intact when the executable carries no
// payload, has the check switched off, or its digest matches; unreadable when
// the file cannot be opened to compute the digest; else modified.
enum class Integrity { kIntact, kUnreadable, kModified };
Integrity CheckIntegrity(const std::string& executable_path);

// The whole sequence; returns the process exit code.
int RunStartup(int argc, char** argv);

}  // namespace nxo::launcher
