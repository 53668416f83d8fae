#include "console/console.h"

namespace nxo::console {

void RedirectStandardError(const std::string&) {}
void RedirectStandardOutput(const std::string&) {}
void StartupHook() {}

}  // namespace nxo::console
