// The native behind com.tarnwick.nxo.RedirOutputStream: each byte the Java
// application prints through the bridge goes to the target handle held in
// the stream's field "h".
#include <jni.h>

#include <atomic>

#include "jni/kept_native.h"
#include "platform/platform.h"

namespace {

std::atomic<jfieldID> handle_field{nullptr};

jfieldID HandleField(JNIEnv* env, jobject stream) {
  jfieldID field = handle_field.load();
  if (field != nullptr) return field;
  jclass cls = env->GetObjectClass(stream);
  field = env->GetFieldID(cls, "h", "J");
  env->DeleteLocalRef(cls);
  if (field == nullptr) {
    env->ExceptionClear();
    return nullptr;
  }
  handle_field.store(field);
  return field;
}

}  // namespace

// Listed in natives/natives.def.h, which exports it on Windows and registers
// it on Linux; it carries no export attribute of its own, so that Windows
// exports it under the table's name only.
extern "C" NXO_KEPT_NATIVE void JNICALL Java_com_tarnwick_nxo_RedirOutputStream_write(
    JNIEnv* env, jobject stream, jint value);

extern "C" void JNICALL Java_com_tarnwick_nxo_RedirOutputStream_write(JNIEnv* env, jobject stream,
                                                                       jint value) {
  jfieldID field = HandleField(env, stream);
  if (field == nullptr) return;
  const auto handle = static_cast<nxo::platform::NativeHandle>(env->GetLongField(stream, field));
  // A stream the launcher did not set up holds 0: it writes nowhere.
  if (handle == 0 || handle == nxo::platform::kInvalidHandle) return;
  const unsigned char byte = static_cast<unsigned char>(value & 0xff);
  nxo::platform::WriteToHandle(handle, &byte, 1);
}
