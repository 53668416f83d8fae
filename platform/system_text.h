// What each platform file provides to the portable part of the platform
// (platform.cpp) and to nothing else.
#pragma once

#include <string>

namespace nxo::platform {

// The system's text for the last library or system error, with any "%1"
// insert left as it is; empty when the system has none.
std::string LastSystemErrorText();

}  // namespace nxo::platform
