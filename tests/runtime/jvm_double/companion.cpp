// A library the client-layout JVM double depends on. It sits in the runtime's
// bin directory, one level above the double, where only PATH can find it.
#include <jni.h>

extern "C" JNIEXPORT const char* nxo_jvm_double_companion_version() { return "1.8.0_292"; }
