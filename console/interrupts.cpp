// The start-up hook, and the interrupt handling that turns SIGINT and
// SIGTERM into System.exit(0) so the application's shutdown hooks run.
#include <atomic>

#include "console/console.h"
#include "console/output_redirector.h"
#include "jni/jni_helpers.h"
#include "platform/platform.h"
#include "support/trail.h"

namespace nxo::console {

namespace {

std::atomic<CurrentJavaVm> current_vm_source{nullptr};

// System.exit(code); failures are swallowed and nothing is left pending.
// Returns only when the exit did not end the process.
void CallSystemExit(JNIEnv* env, int code) {
  jni::LocalRef<jclass> system_class = jni::FindClass(env, "java/lang/System");
  if (system_class) {
    jmethodID exit_method = env->GetStaticMethodID(system_class.get(), "exit", "(I)V");
    if (exit_method != nullptr) env->CallStaticVoidMethod(system_class.get(), exit_method, code);
  }
  jni::CheckException(env, false);
}

// Runs outside signal context (see platform::InstallInterruptHandlers), so
// attaching to the JVM and calling into it is allowed here.
void OnInterruptSignal(int signal_number) {
  CurrentJavaVm source = current_vm_source.load();
  JavaVM* vm = source != nullptr ? source() : nullptr;
  NXO_TRAIL("console", "signal %d: %s", signal_number,
            vm != nullptr ? "asking the JVM for System.exit(0)" : "no JVM, passing it on");
  if (vm != nullptr) {
    void* raw_env = nullptr;
    if (vm->AttachCurrentThread(&raw_env, nullptr) == JNI_OK) {
      if (raw_env != nullptr) CallSystemExit(static_cast<JNIEnv*>(raw_env), 0);
      vm->DetachCurrentThread();
    }
  }
  // The hook ran with a JVM, so none now means it has been destroyed and its
  // library (where the JVM's own handler lives) may be unloaded.
  platform::ChainPreviousInterruptHandler(signal_number, vm == nullptr);
}

}  // namespace

void StartupHook(JNIEnv* env, CurrentJavaVm current_vm) {
  ProcessRedirector().InstallJavaRedirection(env);
  current_vm_source.store(current_vm);
  platform::InstallInterruptHandlers(OnInterruptSignal);
}

}  // namespace nxo::console
