// Loading the Java runtime's JVM library into the process, creating the
// Java virtual machine through the JNI invocation interface, and taking both
// down again.
#pragma once

#include <jni.h>

#include <string>

#include "platform/platform.h"
#include "support/string_list.h"

namespace nxo::runtime {

// Result codes; each equals the number of the message the launch shows.
inline constexpr int kJvmOk = 0;
inline constexpr int kJvmLibraryInvalid = 2;   // not loadable, or no creation entry
inline constexpr int kJvmCreationFailed = 4;   // the creation entry returned an error

// The creation entry's name, and the older name some runtimes export instead.
inline constexpr const char* kCreateJavaVmEntry = "JNI_CreateJavaVM";
inline constexpr const char* kCreateJavaVmImplEntry = "JNI_CreateJavaVM_Impl";

// One per process: from empty, to library loaded, to JVM created, and back
// to empty through UnloadJvm. No lock: its steps never overlap.
struct JvmHost {
  StringList options;  // JVM options in the order they were added
  platform::LibraryHandle library = nullptr;
  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;  // belongs to the thread that created the JVM
};

// Loads the library at |library_path| into |host|: 0, or 2 after reporting the
// system's reason on standard error. Where a DLL's dependencies are found
// through PATH, a failed load is retried once with the library's parent
// directory added to PATH (a lasting, process-wide change).
int LoadJvmLibrary(JvmHost& host, const std::string& library_path);

// Loads the library unless |host| holds one, and creates the JVM with the
// host's options (JNI 1.2, unrecognised options ignored): 0, 2 or 4. Once the
// creation entry has been called, the options are consumed whatever it
// answered.
int CreateJavaVm(JvmHost& host, const std::string& library_path);

// Detaches the current thread and destroys the JVM (which waits for the
// application's non-daemon threads), then unloads the library. Does nothing
// for what the host does not hold.
void UnloadJvm(JvmHost& host);

// Prints the system's text for the last load failure, "%1" replaced by the
// library path, and a newline, on standard error.
void ReportLoadError(const std::string& library_path);

}  // namespace nxo::runtime
