#include "launcher/jni_util.h"

#include <vector>

#include "support/text.h"

namespace nxo::launcher {

namespace {

std::u16string JavaStringUnits(JNIEnv* env, jstring text) {
  const jchar* chars = env->GetStringChars(text, nullptr);
  if (chars == nullptr) return std::u16string();
  jsize length = env->GetStringLength(text);
  std::u16string units;
  for (jsize i = 0; i < length && chars[i] != 0; ++i) units.push_back(static_cast<char16_t>(chars[i]));
  env->ReleaseStringChars(text, chars);
  return units;
}

}  // namespace

jclass FindJavaClass(JNIEnv* env, const char* dotted_name) {
  std::string name = dotted_name;
  for (char& c : name)
    if (c == '.') c = '/';
  jclass found = env->FindClass(name.c_str());
  if (found == nullptr) CheckJavaException(env, true);
  return found;
}

bool CheckJavaException(JNIEnv* env, bool describe) {
  jthrowable pending = env->ExceptionOccurred();
  if (pending == nullptr) return false;
  if (describe) env->ExceptionDescribe();
  env->ExceptionClear();
  env->DeleteLocalRef(pending);
  return true;
}

void SetJavaProperty(JNIEnv* env, std::string_view assignment) {
  std::string_view::size_type equals = assignment.find('=');
  std::string name(assignment.substr(0, equals));
  std::string value = equals == std::string_view::npos ? "" : std::string(assignment.substr(equals + 1));
  jclass system = env->FindClass("java/lang/System");
  if (system == nullptr) {
    CheckJavaException(env, false);
    return;
  }
  jmethodID set_property = env->GetStaticMethodID(
      system, "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;");
  if (set_property == nullptr) {
    CheckJavaException(env, false);
    env->DeleteLocalRef(system);
    return;
  }
  jstring java_name = env->NewStringUTF(name.c_str());
  jstring java_value = env->NewStringUTF(value.c_str());
  jobject previous = env->CallStaticObjectMethod(system, set_property, java_name, java_value);
  CheckJavaException(env, false);
  if (previous != nullptr) env->DeleteLocalRef(previous);
  env->DeleteLocalRef(java_value);
  env->DeleteLocalRef(java_name);
  env->DeleteLocalRef(system);
}

void AppendProtocolHandlerPackage(JNIEnv* env) {
  jclass system = env->FindClass("java/lang/System");
  if (system == nullptr) {
    CheckJavaException(env, false);
    return;
  }
  jmethodID get_property =
      env->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
  jmethodID set_property = env->GetStaticMethodID(
      system, "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;");
  if (get_property == nullptr || set_property == nullptr) {
    CheckJavaException(env, false);
    env->DeleteLocalRef(system);
    return;
  }
  jstring name = env->NewStringUTF("java.protocol.handler.pkgs");
  jstring old_value = static_cast<jstring>(env->CallStaticObjectMethod(system, get_property, name));
  CheckJavaException(env, false);
  std::u16string value = u"com.tarnwick";
  if (old_value != nullptr) {
    std::u16string old_units = JavaStringUnits(env, old_value);
    if (!old_units.empty()) value += u"|" + old_units;
    env->DeleteLocalRef(old_value);
  }
  std::vector<jchar> units(value.begin(), value.end());
  jstring new_value = env->NewString(units.data(), static_cast<jsize>(units.size()));
  jobject previous = env->CallStaticObjectMethod(system, set_property, name, new_value);
  CheckJavaException(env, false);
  if (previous != nullptr) env->DeleteLocalRef(previous);
  env->DeleteLocalRef(new_value);
  env->DeleteLocalRef(name);
  env->DeleteLocalRef(system);
}

void SetThreadContextLoader(JNIEnv* env, jobject loader) {
  jclass thread_class = env->FindClass("java/lang/Thread");
  if (thread_class == nullptr) {
    CheckJavaException(env, false);
    return;
  }
  jmethodID current_thread =
      env->GetStaticMethodID(thread_class, "currentThread", "()Ljava/lang/Thread;");
  jmethodID set_loader =
      env->GetMethodID(thread_class, "setContextClassLoader", "(Ljava/lang/ClassLoader;)V");
  jobject thread = current_thread != nullptr && set_loader != nullptr
                       ? env->CallStaticObjectMethod(thread_class, current_thread)
                       : nullptr;
  if (thread != nullptr) {
    env->CallVoidMethod(thread, set_loader, loader);
    env->DeleteLocalRef(thread);
  }
  CheckJavaException(env, true);
  env->DeleteLocalRef(thread_class);
}

bool QueryJavaVersion(JNIEnv* env, std::string& version) {
  version.clear();
  if (env == nullptr) return false;
  jclass system = env->FindClass("java/lang/System");
  jmethodID get_property =
      system == nullptr
          ? nullptr
          : env->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
  if (get_property == nullptr) {
    CheckJavaException(env, false);
    if (system != nullptr) env->DeleteLocalRef(system);
    return false;
  }
  jstring name = env->NewStringUTF("java.version");
  jstring answer = static_cast<jstring>(env->CallStaticObjectMethod(system, get_property, name));
  if (answer != nullptr) version = WideToAnsi(JavaStringUnits(env, answer));
  CheckJavaException(env, false);
  if (answer != nullptr) env->DeleteLocalRef(answer);
  env->DeleteLocalRef(name);
  env->DeleteLocalRef(system);
  return true;
}

}  // namespace nxo::launcher
