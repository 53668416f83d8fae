// The launch's own uses of the JVM's system properties, on the JNI helper
// layer (jni/jni_helpers.h). Each works with the JNI environment of the
// calling thread.
#pragma once

#include <jni.h>

#include <string>
#include <string_view>

namespace nxo::launcher {

// System.setProperty for "name=value" (no "=" gives an empty value). The
// text is UTF-8 (modified UTF-8 where the JVM is concerned: our encoder
// never pairs surrogates, which is that form).
void SetJavaProperty(JNIEnv* env, std::string_view assignment);

// Puts "com.tarnwick" in front of java.protocol.handler.pkgs.
void AppendProtocolHandlerPackage(JNIEnv* env);

// System.getProperty("java.version") as ANSI text; false when the runtime
// could not be asked.
bool QueryJavaVersion(JNIEnv* env, std::string& version);

}  // namespace nxo::launcher
