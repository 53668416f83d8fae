// The native behind the "nxo:" URL scheme of com.tarnwick.nxo.Handler.
#include <string>

#include "jni/jni_helpers.h"
#include "natives/natives.h"
#include "natives/remembered_keys.h"
#include "natives/resource_url.h"

namespace {

jbyteArray NewJavaBytes(JNIEnv* env, const std::string& bytes) {
  const auto length = static_cast<jsize>(bytes.size());
  jbyteArray array = env->NewByteArray(length);
  if (array != nullptr && length > 0) {
    env->SetByteArrayRegion(array, 0, length, reinterpret_cast<const jbyte*>(bytes.data()));
  }
  return array;
}

}  // namespace

extern "C" jbyteArray JNICALL Java_com_tarnwick_nxo_Handler_loadResourceData(JNIEnv* env, jobject,
                                                                             jstring url) {
  const nxo::natives::ResourceSwitches switches{nxo::natives::CompatibleOn,
                                                nxo::natives::FakeClassBytesOff};
  const std::optional<std::string> data =
      nxo::natives::ResourceData(nxo::jni::StringUnits(env, url), switches);
  if (!data) return nullptr;
  return NewJavaBytes(env, *data);
}
