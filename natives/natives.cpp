// Binding the table of natives to the support classes with RegisterNatives,
// where the JVM cannot load the running executable as a native library.
#include "natives/natives.h"

#include <cstring>
#include <string_view>

#include "jni/jni_helpers.h"

namespace nxo::natives {
namespace {

// The stdcall argument size of a native with this JNI descriptor: the
// JNIEnv pointer and the object or class, then each parameter (a long or a
// double takes 8 bytes, everything else 4).
constexpr int StdcallArgumentBytes(std::string_view descriptor) {
  int bytes = 8;
  std::size_t at = 1;  // after "("
  while (at < descriptor.size() && descriptor[at] != ')') {
    const char kind = descriptor[at];
    if (kind == 'J' || kind == 'D') {
      bytes += 8;
      ++at;
      continue;
    }
    bytes += 4;
    while (descriptor[at] == '[') ++at;
    if (descriptor[at] == 'L') at = descriptor.find(';', at);
    ++at;
  }
  return bytes;
}

#define NXO_NATIVE(cls, method, descriptor, bytes, result, params)  \
  static_assert(StdcallArgumentBytes(descriptor) == (bytes),        \
                "argument bytes of " #cls "." #method " do not match its descriptor");
#include "natives/natives.def.h"
#undef NXO_NATIVE

struct NativeEntry {
  const char* class_name;
  JNINativeMethod method;
};

const NativeEntry kNatives[] = {
#define NXO_NATIVE(cls, method, descriptor, bytes, result, params)                     \
  {"com/tarnwick/nxo/" #cls,                                                        \
   {const_cast<char*>(#method), const_cast<char*>(descriptor),                      \
    reinterpret_cast<void*>(&Java_com_tarnwick_nxo_##cls##_##method)}},
#include "natives/natives.def.h"
#undef NXO_NATIVE
};

}  // namespace

int RegisterLauncherNatives(JNIEnv* env) {
  // Finding a class initialises it, and its static initialiser decides by
  // this property whether to load the executable as a library.
  jni::SetSystemProperty(env, kNativesRegisteredProperty, "true");
  int registered = 0;
  const char* current_name = nullptr;
  jni::LocalRef<jclass> current_class;
  for (const NativeEntry& entry : kNatives) {
    if (current_name == nullptr || std::strcmp(current_name, entry.class_name) != 0) {
      current_name = entry.class_name;
      current_class = jni::FindClass(env, entry.class_name);
      if (!current_class) jni::CheckException(env, false);
    }
    if (!current_class) continue;
    // One method at a time: a class version that does not declare one of
    // them native must not keep the others from being bound.
    if (env->RegisterNatives(current_class.get(), &entry.method, 1) == JNI_OK) {
      ++registered;
    } else {
      jni::CheckException(env, false);
    }
  }
  return registered;
}

}  // namespace nxo::natives
