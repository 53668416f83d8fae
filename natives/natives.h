// Declarations of the natives listed in natives/natives.def.h, and the Linux
// binding of all of them to the support classes.
#pragma once

#include <jni.h>

#include "jni/kept_native.h"

// Windows exports the natives under their decorated names through a .def file
// generated from the table; dllexport would add a second, differently
// decorated name for each, so the build turns it off there.
#ifdef NXO_NATIVES_EXPORTED_BY_DEF_FILE
#define NXO_NATIVE_EXPORT
#else
#define NXO_NATIVE_EXPORT JNIEXPORT
#endif

extern "C" {
#define NXO_NATIVE(cls, method, descriptor, bytes, result, params) \
  NXO_NATIVE_EXPORT NXO_KEPT_NATIVE result JNICALL Java_com_tarnwick_nxo_##cls##_##method params;
#include "natives/natives.def.h"
#undef NXO_NATIVE
}

namespace nxo::natives {

// The system property that tells the support classes their natives are
// already bound, so their static initialisers skip System.load.
inline constexpr char kNativesRegisteredProperty[] = "nxo.natives.registered";

// Binds the natives of the classes every start uses (Handler and
// KestrelClassLoader) with RegisterNatives, for platforms where the JVM
// cannot load the running executable as a library; the other classes of the
// table bind theirs through Handler.bindNatives when they initialise, so a
// start that does not use them does not load them. Sets
// kNativesRegisteredProperty to "true" first, because finding a class runs
// its static initialiser. A class missing from the class path, or a method
// that its class does not declare native, is skipped and its exception
// cleared: not every payload carries every class. Returns the number of
// methods bound; nothing is left pending.
int RegisterLauncherNatives(JNIEnv* env);

}  // namespace nxo::natives
