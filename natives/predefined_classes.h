// The support classes of the start path, defined in the system class loader
// straight from the executable's payload.
//
// Otherwise the first of them has the system loader open the executable as a
// jar (the runtime's ZIP reader, its cleaner thread and its file-system set-up,
// some milliseconds of every start) only to read a few dozen kilobytes of
// classes whose places the launcher can find itself. Classes defined this way
// have no code source, and the JVM cannot put them in a class-data archive:
// the launcher does this only in starts that hand the JVM no archive and
// record none.
#pragma once

#include <jni.h>

#include "config/launch_config.h"

namespace nxo::natives {

// The system property set to "true" once any support class has been defined
// so: the launcher class then takes its archive from "nxo.app.path".
inline constexpr char kSupportPredefinedProperty[] = "nxo.support.predefined";

// Defines the start path's support classes, in order, in the system class
// loader; stops at the first that the payload lacks or the runtime refuses
// (the rest then load from the executable as usual). Sets
// kSupportPredefinedProperty when it defined any. Returns how many were
// defined; no exception is left pending.
int PredefineSupportClasses(JNIEnv* env, const config::LaunchConfig& config);

}  // namespace nxo::natives
