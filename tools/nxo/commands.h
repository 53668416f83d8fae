// The packager's commands. Each takes the arguments after its name and
// returns the process exit code; failures are printed as one line.
#pragma once

#include <string>
#include <vector>

namespace nxo::tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// nxo inspect: the payload is readable, but its integrity digest does not match.
inline constexpr int kExitDigestMismatch = 3;

int RunPack(const std::vector<std::string>& args);
int RunInspect(const std::vector<std::string>& args);

extern const char kPackHelp[];
extern const char kInspectHelp[];

// "nxo <command>: message" on standard error.
void PrintError(const char* command, const std::string& message);

}  // namespace nxo::tool
