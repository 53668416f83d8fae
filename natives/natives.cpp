// Binding the table of natives to the support classes with RegisterNatives,
// where the JVM cannot load the running executable as a native library.
#include "natives/natives.h"

#include <string>
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

// The classes every start uses, bound at once. Binding a class means finding
// it, and so loading, verifying and initialising it: the others bind their
// own natives when they initialise (Handler.bindNatives), so that a start
// which never uses them never loads them.
constexpr std::string_view kStartClasses[] = {"com/tarnwick/nxo/Handler",
                                              "com/tarnwick/nxo/KestrelClassLoader"};

// Binds the table's natives of the class named |class_name| (internal form)
// to |target|, one method at a time: a class version that does not declare
// one of them native must not keep the others from being bound.
int RegisterClassNatives(JNIEnv* env, jclass target, std::string_view class_name) {
  int registered = 0;
  for (const NativeEntry& entry : kNatives) {
    if (class_name != entry.class_name) continue;
    if (env->RegisterNatives(target, &entry.method, 1) == JNI_OK) {
      ++registered;
    } else {
      jni::CheckException(env, false);
    }
  }
  return registered;
}

// The internal name ("a/b/C") of |target|, or empty when it cannot be read.
std::string InternalClassName(JNIEnv* env, jclass target) {
  jni::LocalRef<jclass> class_class(env, env->GetObjectClass(target));
  jmethodID get_name = class_class ? env->GetMethodID(class_class.get(), "getName", "()Ljava/lang/String;") : nullptr;
  if (get_name == nullptr) {
    jni::CheckException(env, false);
    return std::string();
  }
  jni::LocalRef<jstring> name(env, static_cast<jstring>(env->CallObjectMethod(target, get_name)));
  if (jni::CheckException(env, false) || !name) return std::string();
  std::string internal;
  for (char16_t unit : jni::StringUnits(env, name.get())) {
    if (unit > 0x7f) return std::string();  // no class of the table
    internal.push_back(unit == u'.' ? '/' : static_cast<char>(unit));
  }
  return internal;
}

}  // namespace

int RegisterLauncherNatives(JNIEnv* env) {
  // Finding a class initialises it, and its static initialiser decides by
  // this property whether to load the executable as a library.
  jni::SetSystemProperty(env, kNativesRegisteredProperty, "true");
  int registered = 0;
  for (std::string_view class_name : kStartClasses) {
    jni::LocalRef<jclass> found = jni::FindClass(env, class_name);
    if (!found) {
      jni::CheckException(env, false);
      continue;
    }
    registered += RegisterClassNatives(env, found.get(), class_name);
  }
  return registered;
}

}  // namespace nxo::natives

extern "C" void JNICALL Java_com_tarnwick_nxo_Handler_bindNatives(JNIEnv* env, jclass, jclass target) {
  if (target == nullptr) return;
  const std::string name = nxo::natives::InternalClassName(env, target);
  if (!name.empty()) nxo::natives::RegisterClassNatives(env, target, name);
}
