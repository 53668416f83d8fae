// Small JNI routines shared by the launch and the natives. Each works with
// the JNI environment of the calling thread.
#pragma once

#include <jni.h>

#include <string>
#include <string_view>

namespace nxo::launcher {

// FindClass with a dotted name; on failure the pending error is described on
// standard error and cleared, and the result is null.
jclass FindJavaClass(JNIEnv* env, const char* dotted_name);

// True when an exception was pending. It is described first when |describe|
// is set (the runtime prints the stack trace), and always cleared.
bool CheckJavaException(JNIEnv* env, bool describe);

// System.setProperty for "name=value" (no "=" gives an empty value). The
// text is UTF-8 (modified UTF-8 where the JVM is concerned: our encoder
// never pairs surrogates, which is that form).
void SetJavaProperty(JNIEnv* env, std::string_view assignment);

// Puts "com.tarnwick" in front of java.protocol.handler.pkgs.
void AppendProtocolHandlerPackage(JNIEnv* env);

// Thread.currentThread().setContextClassLoader(loader).
void SetThreadContextLoader(JNIEnv* env, jobject loader);

// System.getProperty("java.version") as ANSI text; false when the runtime
// could not be asked.
bool QueryJavaVersion(JNIEnv* env, std::string& version);

}  // namespace nxo::launcher
