// The processor a library or executable was built for, read from its PE or
// ELF header, so that the search never chooses a JVM library this process
// cannot load (a 32-bit launcher and a 64-bit jvm.dll, or the reverse).
#pragma once

#include <string>

namespace nxo::runtime {

enum class Machine { kUnknown, kX86, kX86_64, kArm, kArm64, kOther };

// The machine in the header of the file at |path|; kUnknown when the file
// cannot be read or is neither a PE nor an ELF image.
Machine LibraryMachine(const std::string& path);

// The machine the running launcher was built for, from its own image.
Machine OwnMachine();

// "x86", "x86-64", "ARM", "ARM64", "another processor" or "unknown".
const char* MachineName(Machine machine);

// Whether a library of |machine| may be loaded here: a known machine must be
// this launcher's own. A file whose machine cannot be told is left to the
// loader, which reports what is wrong with it.
bool Loadable(Machine machine);

}  // namespace nxo::runtime
