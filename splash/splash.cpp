#include "splash/splash.h"

#include <atomic>
#include <mutex>

#include "jni/kept_native.h"
#include "support/never_destroyed.h"

namespace nxo::splash {

// One per process at a time. The splash thread owns the window; other
// threads reach the record through the process-wide reference and the
// window only under the record's lock, so they never use a window that the
// splash thread has released, nor a record that is gone.
struct SplashWindow {
  SplashWindow() = default;
  SplashWindow(const SplashWindow&) = delete;
  SplashWindow& operator=(const SplashWindow&) = delete;
  ~SplashWindow() { platform::DestroySignal(ready_signal); }

  platform::Mutex lock;
  // Raised once the splash thread has opened its window, or failed to.
  platform::SignalRef ready_signal = platform::CreateSignal();
  platform::SplashWindowRef window = nullptr;       // guarded by lock
  platform::SplashPicture picture = nullptr;
  std::string title;
  std::atomic<int> auto_close_requested{0};
};

namespace {

// The process-wide reference. Never destroyed: a splash thread may still
// be ending while the process exits.
struct ProcessSplash {
  platform::Mutex lock;
  std::shared_ptr<SplashWindow> current;  // guarded by lock
};

NeverDestroyed<ProcessSplash> process_splash;

ProcessSplash& Process() { return process_splash.get(); }

void Publish(const std::shared_ptr<SplashWindow>& splash) {
  std::lock_guard<platform::Mutex> guard(Process().lock);
  Process().current = splash;
}

void Unpublish(const std::shared_ptr<SplashWindow>& splash) {
  std::lock_guard<platform::Mutex> guard(Process().lock);
  if (Process().current == splash) Process().current.reset();
}

std::shared_ptr<SplashWindow> CurrentSplash() {
  std::lock_guard<platform::Mutex> guard(Process().lock);
  return Process().current;
}

// Runs |use| with the splash window while it exists; false when there is
// no splash or no window.
template <typename Use>
bool WithWindow(Use use) {
  std::shared_ptr<SplashWindow> splash = CurrentSplash();
  if (!splash) return false;
  std::lock_guard<platform::Mutex> guard(splash->lock);
  if (splash->window == nullptr) return false;
  use(*splash, splash->window);
  return true;
}

void MarkReady(SplashWindow& splash, platform::SplashWindowRef window) {
  {
    std::lock_guard<platform::Mutex> guard(splash.lock);
    splash.window = window;
  }
  if (splash.ready_signal != nullptr) platform::RaiseSignal(splash.ready_signal);
}

unsigned SplashThread(void* raw) {
  std::unique_ptr<std::shared_ptr<SplashWindow>> handed(static_cast<std::shared_ptr<SplashWindow>*>(raw));
  std::shared_ptr<SplashWindow> splash = *handed;
  handed.reset();

  Publish(splash);
  platform::SplashWindowRef window = platform::OpenSplashWindow(splash->picture, splash->title);
  MarkReady(*splash, window);
  platform::LowerThreadPriority();
  if (window != nullptr) platform::RunSplashWindow(window);

  Unpublish(splash);
  {
    // Requests that got hold of the record before it was unpublished find
    // no window from here on.
    std::lock_guard<platform::Mutex> guard(splash->lock);
    splash->window = nullptr;
  }
  platform::YieldToOtherThreads();
  if (window != nullptr) platform::ReleaseSplashWindow(window);
  platform::FreeSplashPicture(splash->picture);
  splash->picture = nullptr;
  return 0;
}

// The Java-side splash object: a global reference kept for the life of the
// process, under a lock that is never destroyed either.
NeverDestroyed<platform::Mutex> instance_lock;

platform::Mutex& InstanceLock() { return instance_lock.get(); }
jobject shared_instance = nullptr;

}  // namespace

std::shared_ptr<SplashWindow> ShowSplash(platform::SplashPicture picture, const std::string& title) {
  // Not make_shared: without RTTI its control block asks the library for a
  // type check that brings the exception runtime along.
  std::shared_ptr<SplashWindow> splash(new SplashWindow);
  splash->picture = picture;
  splash->title = title;
  auto* handed = new std::shared_ptr<SplashWindow>(splash);
  if (!platform::StartDetachedThread(SplashThread, handed)) {
    delete handed;
    platform::FreeSplashPicture(picture);
    splash->picture = nullptr;
    return splash;
  }
  if (splash->ready_signal != nullptr) platform::WaitForSignal(splash->ready_signal, kReadyWaitMilliseconds);
  return splash;
}

bool SplashWindowShowing() {
  return WithWindow([](SplashWindow&, platform::SplashWindowRef) {});
}

void* SplashWindowHandle() {
  void* handle = nullptr;
  WithWindow([&](SplashWindow&, platform::SplashWindowRef window) {
    handle = platform::SplashWindowSystemHandle(window);
  });
  return handle;
}

void RequestSplashClose(int milliseconds) {
  WithWindow([&](SplashWindow& splash, platform::SplashWindowRef window) {
    splash.auto_close_requested = 1;
    platform::ForwardSplashTimer(window, milliseconds);
  });
}

void CloseSplash() {
  WithWindow([](SplashWindow&, platform::SplashWindowRef window) {
    platform::PostSplashClose(window);
  });
}

void ApplyLaunchClosePolicy(int milliseconds) {
  std::shared_ptr<SplashWindow> splash = CurrentSplash();
  if (!splash || splash->auto_close_requested != 0) return;
  RequestSplashClose(milliseconds);
  // The application may still take the closing over.
  splash->auto_close_requested = 0;
}

void ApplyMainReturnedClosePolicy(int milliseconds) {
  std::shared_ptr<SplashWindow> splash = CurrentSplash();
  if (!splash || splash->auto_close_requested != 0) return;
  RequestSplashClose(milliseconds);
}

namespace {

void ClearPending(JNIEnv* env) {
  if (env->ExceptionCheck()) env->ExceptionClear();
}

}  // namespace

void InstallSplashCloseOnWindow(JNIEnv* env) {
  // Each step stops the installation when it yields nothing; an exception
  // it raised is cleared unprinted.
  jclass toolkit_class = nullptr;
  jobject toolkit = nullptr;
  jclass listener_class = nullptr;
  jobject listener = nullptr;
  auto failed = [env](const void* result) {
    if (result != nullptr && !env->ExceptionCheck()) return false;
    ClearPending(env);
    return true;
  };
  do {
    toolkit_class = env->FindClass("java/awt/Toolkit");
    if (failed(toolkit_class)) break;
    jmethodID get_default =
        env->GetStaticMethodID(toolkit_class, "getDefaultToolkit", "()Ljava/awt/Toolkit;");
    if (failed(get_default)) break;
    toolkit = env->CallStaticObjectMethod(toolkit_class, get_default);
    if (failed(toolkit)) break;
    listener_class = env->FindClass("com/tarnwick/nxo/SplashCloseOnWindow");
    if (failed(listener_class)) break;
    jmethodID add_listener = env->GetMethodID(toolkit_class, "addAWTEventListener",
                                              "(Ljava/awt/event/AWTEventListener;J)V");
    if (failed(add_listener)) break;
    jmethodID constructor = env->GetMethodID(listener_class, "<init>", "()V");
    if (failed(constructor)) break;
    listener = env->NewObject(listener_class, constructor);
    if (failed(listener)) break;
    const jlong kWindowEventMask = 64;
    env->CallVoidMethod(toolkit, add_listener, listener, kWindowEventMask);
    ClearPending(env);
  } while (false);
  if (listener) env->DeleteLocalRef(listener);
  if (listener_class) env->DeleteLocalRef(listener_class);
  if (toolkit) env->DeleteLocalRef(toolkit);
  if (toolkit_class) env->DeleteLocalRef(toolkit_class);
}

}  // namespace nxo::splash

// ---- Natives of com.tarnwick.nxo.SplashScreen ------------------------------

using nxo::splash::InstanceLock;
using nxo::splash::shared_instance;

// Declared, exported and bound through the table of natives
// (natives/natives.def.h); defined here, where the splash lives.
extern "C" {

// The one Java-side splash object, made on the first call from the calling
// class's no-argument constructor; null while no splash window is showing.
NXO_KEPT_NATIVE jobject JNICALL Java_com_tarnwick_nxo_SplashScreen_nativeGetSplashScreen(JNIEnv* env, jclass type) {
  if (!nxo::splash::SplashWindowShowing()) return nullptr;
  std::lock_guard<nxo::platform::Mutex> guard(InstanceLock());
  if (shared_instance == nullptr) {
    jmethodID constructor = env->GetMethodID(type, "<init>", "()V");
    if (constructor == nullptr) return nullptr;
    jobject created = env->NewObject(type, constructor);
    if (created == nullptr) return nullptr;
    shared_instance = env->NewGlobalRef(created);
    env->DeleteLocalRef(created);
  }
  return env->NewLocalRef(shared_instance);
}

NXO_KEPT_NATIVE void JNICALL Java_com_tarnwick_nxo_SplashScreen_nativeAutoClose(JNIEnv*, jobject, jint milliseconds) {
  nxo::splash::RequestSplashClose(milliseconds);
}

NXO_KEPT_NATIVE void JNICALL Java_com_tarnwick_nxo_SplashScreen_nativeClose(JNIEnv*, jobject) {
  nxo::splash::CloseSplash();
}

}  // extern "C"
