// Loading the Java runtime's JVM library into the process, creating the
// Java virtual machine through the JNI invocation interface, and taking both
// down again.
#pragma once

#include <jni.h>

#include <string>

#include "platform/platform.h"
#include "support/string_list.h"

namespace nxo::runtime {

// What loading and creating came to. The launcher decides what the user is
// told; the runtime only says what happened.
enum class JvmStatus {
  kJvmOk,
  kJvmLibraryInvalid,  // not loadable, or no creation entry
  kJvmCreationFailed,  // the creation entry returned an error
};
using enum JvmStatus;

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

// Loads the library at |library_path| into |host|: kJvmOk, or
// kJvmLibraryInvalid after reporting the system's reason on standard error. Where a DLL's dependencies are found
// through PATH, a failed load is retried once with the library's parent
// directory added to PATH (a lasting, process-wide change).
JvmStatus LoadJvmLibrary(JvmHost& host, const std::string& library_path);

// Loads the library unless |host| holds one, and creates the JVM with the
// host's options (JNI 1.2, unrecognised options ignored). Once the
// creation entry has been called, the options are consumed whatever it
// answered.
JvmStatus CreateJavaVm(JvmHost& host, const std::string& library_path);

// Detaches the current thread and destroys the JVM (which waits for the
// application's non-daemon threads), then unloads the library. Does nothing
// for what the host does not hold.
void UnloadJvm(JvmHost& host);

// Prints the system's text for the last load failure, "%1" replaced by the
// library path, and a newline, on standard error.
void ReportLoadError(const std::string& library_path);

}  // namespace nxo::runtime
