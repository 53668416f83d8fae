// Where a Java runtime of this target keeps its files, and how the launcher
// binds its natives here. These are the launcher's knowledge of Java on each
// target, not services of the operating system, so they live here and not
// behind the platform seam: java_layout_win32.cpp and java_layout_posix.cpp
// each define all of them, and the build compiles the target's file.
#pragma once

#include <string>
#include <vector>

namespace nxo::runtime {

// File name of the runtime's JVM library: "jvm.dll" or "libjvm.so".
std::string JvmLibraryName();

// Directories below a runtime home, each ending with a separator, where the
// JVM library or its flavour directories may sit, in the order they are
// tried. The first is "" (the home itself).
std::vector<std::string> RuntimeHomeSuffixes();

// File name of the runtime's command-line launcher: "java.exe" or "java".
std::string JavaLauncherName();

// Runtime homes the system keeps in a fixed place outside any registry, in
// the order they are tried; none on Windows, whose runtimes are registered.
std::vector<std::string> SystemRuntimeHomes();

// Whether a JVM library that failed to load may load once the directory above
// it is on PATH (Windows finds a DLL's dependencies through PATH; an ELF
// library finds its own through its run path, so retrying cannot help).
bool RetryLibraryLoadWithPath();

// File name of the runtime's splash library beside its JVM library's parent.
std::string SplashLibraryName();

// Whether the launcher binds its natives with RegisterNatives: where the
// running executable cannot be loaded as a library (Linux), System.load of
// it fails, so the support classes are told to skip it.
bool BindNativesByRegistration();

// The per-user cache directory the launcher keeps what it derives from a
// runtime in (class-data archives), without a trailing separator:
// %LOCALAPPDATA% on Windows; $XDG_CACHE_HOME when absolute, else ~/.cache,
// elsewhere. Empty when the environment names none.
std::string UserCacheDirectory();

}  // namespace nxo::runtime
