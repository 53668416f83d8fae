#include "splash/splash.h"

#include "jni/jni_helpers.h"
#include "platform/platform.h"
#include "runtime/java_layout.h"
#include "support/path.h"

namespace nxo::splash {

void* SplashWindowHandle() { return nullptr; }

void RequestSplashClose(int) {}

void ApplyLaunchClosePolicy(int) {}

void ApplyMainReturnedClosePolicy(int) {}

void InstallSplashCloseOnWindow(JNIEnv* env) {
  using jni::LocalRef;
  const LocalRef<jclass> toolkit_class = jni::FindClass(env, "java/awt/Toolkit");
  const jmethodID get_default =
      toolkit_class ? env->GetStaticMethodID(toolkit_class.get(), "getDefaultToolkit",
                                             "()Ljava/awt/Toolkit;")
                    : nullptr;
  const LocalRef<> toolkit(
      env, get_default ? env->CallStaticObjectMethod(toolkit_class.get(), get_default) : nullptr);
  const LocalRef<jclass> listener_class =
      toolkit ? jni::FindClass(env, "com/tarnwick/nxo/SplashCloseOnWindow") : LocalRef<jclass>();
  const jmethodID add_listener =
      listener_class ? env->GetMethodID(toolkit_class.get(), "addAWTEventListener",
                                        "(Ljava/awt/event/AWTEventListener;J)V")
                     : nullptr;
  const jmethodID constructor =
      add_listener ? env->GetMethodID(listener_class.get(), "<init>", "()V") : nullptr;
  const LocalRef<> listener(
      env, constructor ? env->NewObject(listener_class.get(), constructor) : nullptr);
  if (listener) {
    const jlong kWindowEventMask = 64;
    env->CallVoidMethod(toolkit.get(), add_listener, listener.get(), kWindowEventMask);
  }
  jni::CheckException(env, false);
}

std::string FindRuntimeSplashLibrary(const std::string& jvm_library) {
  const std::string& library = jvm_library;
  if (library.empty()) return std::string();
  std::string splash = DirectoryPart(library) + "../" + runtime::SplashLibraryName();
  return platform::Access(splash, platform::AccessMode::kRead) ? splash : std::string();
}

}  // namespace nxo::splash
