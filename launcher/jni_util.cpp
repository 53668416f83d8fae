#include "launcher/jni_util.h"

#include "jni/jni_helpers.h"
#include "support/text.h"

namespace nxo::launcher {

namespace {

constexpr char kHandlerPackages[] = "java.protocol.handler.pkgs";

// A property's text as the launch reads it: up to its first zero unit.
std::u16string UpToZero(std::u16string units) {
  const std::size_t zero = units.find(u'\0');
  if (zero != std::u16string::npos) units.resize(zero);
  return units;
}

// Whether System.getProperty can be called at all; a runtime without it is
// not asked, and nothing is set on its behalf.
bool CanReadProperties(JNIEnv* env) {
  const jni::LocalRef<jclass> system = jni::FindClass(env, "java/lang/System");
  if (system && env->GetStaticMethodID(system.get(), "getProperty",
                                       "(Ljava/lang/String;)Ljava/lang/String;") != nullptr)
    return true;
  jni::CheckException(env, false);
  return false;
}

}  // namespace

void SetJavaProperty(JNIEnv* env, std::string_view assignment) {
  std::string_view::size_type equals = assignment.find('=');
  std::string name(assignment.substr(0, equals));
  std::string value = equals == std::string_view::npos ? "" : std::string(assignment.substr(equals + 1));
  jni::SetSystemProperty(env, name.c_str(), value.c_str());
}

void AppendProtocolHandlerPackage(JNIEnv* env) {
  if (!CanReadProperties(env)) return;
  std::u16string value = u"com.tarnwick";
  const std::u16string old_value =
      UpToZero(jni::GetSystemProperty(env, kHandlerPackages).value_or(u""));
  if (!old_value.empty()) value += u"|" + old_value;
  jni::SetSystemProperty(env, kHandlerPackages, value);
}

bool QueryJavaVersion(JNIEnv* env, std::string& version) {
  version.clear();
  if (env == nullptr || !CanReadProperties(env)) return false;
  // A runtime that answers null still counts as asked: the version is empty.
  version = WideToAnsi(jni::GetSystemProperty(env, "java.version").value_or(u""));
  return true;
}

}  // namespace nxo::launcher
