#include "jni/jni_helpers.h"

#include "support/text.h"

namespace nxo::jni {

namespace {

constexpr char kGetProperty[] = "(Ljava/lang/String;)Ljava/lang/String;";
constexpr char kSetProperty[] = "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;";

bool CallSetProperty(JNIEnv* env, jstring name, jstring value) {
  const LocalRef<jclass> system = FindClass(env, "java/lang/System");
  const jmethodID set_property =
      system ? env->GetStaticMethodID(system.get(), "setProperty", kSetProperty) : nullptr;
  if (set_property == nullptr || name == nullptr || value == nullptr) {
    CheckException(env, false);
    return false;
  }
  const LocalRef<> previous(env, env->CallStaticObjectMethod(system.get(), set_property, name, value));
  return !CheckException(env, false);
}

}  // namespace

bool CheckException(JNIEnv* env, bool describe) {
  const LocalRef<jthrowable> pending(env, env->ExceptionOccurred());
  if (!pending) return false;
  if (describe) env->ExceptionDescribe();
  env->ExceptionClear();
  return true;
}

LocalRef<jclass> FindClass(JNIEnv* env, std::string_view name) {
  std::string slashed(name);
  for (char& c : slashed)
    if (c == '.') c = '/';
  return LocalRef<jclass>(env, env->FindClass(slashed.c_str()));
}

std::u16string StringUnits(JNIEnv* env, jstring text) {
  if (text == nullptr) return {};
  const jsize length = env->GetStringLength(text);
  std::u16string units(static_cast<std::size_t>(length), u'\0');
  static_assert(sizeof(jchar) == sizeof(char16_t));
  env->GetStringRegion(text, 0, length, reinterpret_cast<jchar*>(units.data()));
  return units;
}

LocalRef<jstring> NewString(JNIEnv* env, std::u16string_view units) {
  static_assert(sizeof(jchar) == sizeof(char16_t));
  return LocalRef<jstring>(env, env->NewString(reinterpret_cast<const jchar*>(units.data()),
                                               static_cast<jsize>(units.size())));
}

std::optional<std::u16string> GetSystemProperty(JNIEnv* env, const char* name) {
  const LocalRef<jclass> system = FindClass(env, "java/lang/System");
  const jmethodID get_property =
      system ? env->GetStaticMethodID(system.get(), "getProperty", kGetProperty) : nullptr;
  const LocalRef<jstring> java_name(env, get_property ? env->NewStringUTF(name) : nullptr);
  if (!java_name) {
    CheckException(env, false);
    return std::nullopt;
  }
  const LocalRef<jstring> answer(
      env, static_cast<jstring>(env->CallStaticObjectMethod(system.get(), get_property, java_name.get())));
  if (CheckException(env, false) || !answer) return std::nullopt;
  return StringUnits(env, answer.get());
}

bool SetSystemProperty(JNIEnv* env, const char* name, const char* value) {
  // Made from UTF-16: NewStringUTF takes modified UTF-8, which standard
  // UTF-8 past U+FFFF (or with malformed bytes) is not.
  const LocalRef<jstring> java_name = NewString(env, DecodeUtf8(name));
  const LocalRef<jstring> java_value = java_name ? NewString(env, DecodeUtf8(value)) : LocalRef<jstring>();
  return CallSetProperty(env, java_name.get(), java_value.get());
}

bool SetSystemProperty(JNIEnv* env, const char* name, std::u16string_view value) {
  const LocalRef<jstring> java_name(env, env->NewStringUTF(name));
  const LocalRef<jstring> java_value = java_name ? NewString(env, value) : LocalRef<jstring>();
  return CallSetProperty(env, java_name.get(), java_value.get());
}

}  // namespace nxo::jni
