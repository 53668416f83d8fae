// Standard streams and console control: redirection of standard output and
// error to files or commands, the Java-side bridge for them, and the JVM's
// orderly exit on an interrupt or a termination request.
#pragma once

#include <jni.h>

#include <string>

namespace nxo::console {

// Redirects standard error, or standard output, to |target|: a file path
// (relative to the current directory, appended to) or "|" followed by a
// command line whose standard input receives the stream. The first request
// that succeeds for a stream wins; one that fails leaves the stream as it
// was. Start-up calls standard error first. The saved handles are given
// back at process exit.
void RedirectStandardError(const std::string& target);
void RedirectStandardOutput(const std::string& target);

// Answers the JVM that an interrupt should end; null when there is none
// (not yet created, or destroyed).
using CurrentJavaVm = JavaVM* (*)();

// Called by the launch on its own thread once the JVM exists and its
// version is accepted: installs the Java-side bridge where the system did
// not take a redirected handle, then the SIGINT and SIGTERM handlers, which
// ask the JVM from |current_vm| for System.exit(0) and then pass the signal
// on to the handler installed before.
void StartupHook(JNIEnv* env, CurrentJavaVm current_vm);

}  // namespace nxo::console
