#include "splash/splash.h"

#include "platform/platform.h"
#include "runtime/jre_search.h"
#include "support/path.h"

namespace nxo::splash {

namespace {

void ClearPending(JNIEnv* env) {
  if (env->ExceptionCheck()) env->ExceptionClear();
}

}  // namespace

void* SplashWindowHandle() { return nullptr; }

void RequestSplashClose(int) {}

void ApplyLaunchClosePolicy(int) {}

void ApplyMainReturnedClosePolicy(int) {}

void InstallSplashCloseOnWindow(JNIEnv* env) {
  jclass toolkit_class = env->FindClass("java/awt/Toolkit");
  if (toolkit_class == nullptr) return ClearPending(env);
  jmethodID get_default =
      env->GetStaticMethodID(toolkit_class, "getDefaultToolkit", "()Ljava/awt/Toolkit;");
  jobject toolkit = get_default ? env->CallStaticObjectMethod(toolkit_class, get_default) : nullptr;
  jclass listener_class = toolkit ? env->FindClass("com/tarnwick/nxo/SplashCloseOnWindow") : nullptr;
  jmethodID add_listener =
      listener_class ? env->GetMethodID(toolkit_class, "addAWTEventListener",
                                        "(Ljava/awt/event/AWTEventListener;J)V")
                     : nullptr;
  jmethodID constructor = add_listener ? env->GetMethodID(listener_class, "<init>", "()V") : nullptr;
  jobject listener = constructor ? env->NewObject(listener_class, constructor) : nullptr;
  if (listener != nullptr) {
    const jlong kWindowEventMask = 64;
    env->CallVoidMethod(toolkit, add_listener, listener, kWindowEventMask);
  }
  ClearPending(env);
  if (listener) env->DeleteLocalRef(listener);
  if (listener_class) env->DeleteLocalRef(listener_class);
  if (toolkit) env->DeleteLocalRef(toolkit);
  env->DeleteLocalRef(toolkit_class);
}

std::string FindRuntimeSplashLibrary(const config::LaunchConfig& config) {
  std::string library = runtime::LocateJvmLibrary(config);
  if (library.empty()) return std::string();
  std::string splash = DirectoryPart(library) + "../" + platform::SplashLibraryName();
  return platform::Access(splash, platform::AccessMode::kRead) ? splash : std::string();
}

void ShowStartupSplash(const config::LaunchConfig& config) {
  // The search for the runtime happens here, before the working directory is
  // forced, whether or not a splash is shown.
  FindRuntimeSplashLibrary(config);
}

}  // namespace nxo::splash
