#include "console/output_redirector.h"

#include <cstdio>
#include <cstdlib>

#include "jni/jni_helpers.h"
#include "support/never_destroyed.h"
#include "support/trail.h"

namespace nxo::console {

namespace {

using platform::StandardStream;

const char* NameOf(StandardStream stream) {
  return stream == StandardStream::kOutput ? "stdout" : "stderr";
}

bool BridgeForced() { return !platform::GetEnvironment(kForceBridgeVariable).value_or("").empty(); }

void ReleaseProcessRedirector() { ProcessRedirector().Release(); }

// Never destroyed: Java threads and exit handlers may still read it while
// static objects are torn down.
NeverDestroyed<OutputRedirector> process_redirector;

}  // namespace

OutputRedirector& ProcessRedirector() { return process_redirector.get(); }

StreamRedirection& OutputRedirector::Mutable(StandardStream stream) {
  return stream == StandardStream::kOutput ? output_ : error_;
}

const StreamRedirection& OutputRedirector::Of(StandardStream stream) const {
  return stream == StandardStream::kOutput ? output_ : error_;
}

OutputTarget& OutputRedirector::Acquire(const std::string& value) {
  for (OutputTarget& target : targets_)
    if (target.name == value) return target;
  OutputTarget target;
  target.name = value;
  target.is_pipe = !value.empty() && value[0] == '|';
  target.handle = target.is_pipe ? platform::StartPipedCommand(value.substr(1))
                                 : platform::OpenAppendFile(value);
  if (target.handle == platform::kInvalidHandle) {
    NXO_TRAIL("console", target.is_pipe ? "command \"%s\" could not be started"
                                        : "file \"%s\" could not be opened for appending",
              target.is_pipe ? value.c_str() + 1 : value.c_str());
  }
  targets_.push_back(target);
  return targets_.back();
}

bool OutputRedirector::Redirect(StandardStream stream, const std::string& value) {
  const OutputTarget& target = Acquire(value);
  if (target.handle == platform::kInvalidHandle) {
    NXO_TRAIL("console", "%s stays as it was: its target \"%s\" failed", NameOf(stream), value.c_str());
    return false;
  }
  StreamRedirection& redirection = Mutable(stream);
  if (redirection.redirected) return true;
  if (!output_.redirected && !error_.redirected) std::atexit(ReleaseProcessRedirector);

  redirection.redirected = true;
  redirection.target = target.handle;
  redirection.saved = platform::SaveStandardStream(stream);
  // A file takes every line of the launcher at once; a command's pipe is
  // written in blocks and flushed at exit.
  platform::AttachRuntimeStream(stream, target.handle, target.is_pipe);
  if (BridgeForced()) {
    // As if the system had refused: it keeps reporting what it had.
    if (redirection.saved != platform::kInvalidHandle)
      platform::SetStandardHandle(stream, redirection.saved);
    redirection.needs_bridge = true;
  } else {
    redirection.needs_bridge = !platform::SetStandardHandle(stream, target.handle);
  }
  NXO_TRAIL("console", "%s goes to %s \"%s\"%s", NameOf(stream), target.is_pipe ? "command" : "file",
            target.is_pipe ? value.c_str() + 1 : value.c_str(),
            redirection.needs_bridge ? "; the system kept its handle, so Java output takes the bridge" : "");
  return true;
}

bool OutputRedirector::InstallJavaRedirection(JNIEnv* env) const {
  if (!output_.needs_bridge && !error_.needs_bridge) return true;
  jni::LocalRef<jclass> stream_class = jni::FindClass(env, "com/tarnwick/nxo/RedirOutputStream");
  jni::LocalRef<jclass> print_class =
      stream_class ? jni::FindClass(env, "java/io/PrintStream") : jni::LocalRef<jclass>();
  jni::LocalRef<jclass> system_class =
      print_class ? jni::FindClass(env, "java/lang/System") : jni::LocalRef<jclass>();
  jmethodID stream_init = nullptr, print_init = nullptr, set_out = nullptr, set_err = nullptr;
  jfieldID handle_field = nullptr;
  if (system_class) {
    stream_init = env->GetMethodID(stream_class.get(), "<init>", "()V");
    handle_field = stream_init != nullptr ? env->GetFieldID(stream_class.get(), "h", "J") : nullptr;
    print_init = handle_field != nullptr
                     ? env->GetMethodID(print_class.get(), "<init>", "(Ljava/io/OutputStream;)V")
                     : nullptr;
    set_out = print_init != nullptr
                  ? env->GetStaticMethodID(system_class.get(), "setOut", "(Ljava/io/PrintStream;)V")
                  : nullptr;
    set_err = set_out != nullptr
                  ? env->GetStaticMethodID(system_class.get(), "setErr", "(Ljava/io/PrintStream;)V")
                  : nullptr;
  }
  if (set_err == nullptr) {
    jni::CheckException(env, false);
    NXO_TRAIL("console", "the Java bridge classes are missing; no bridge installed");
    return false;
  }

  auto install = [&](const StreamRedirection& redirection, jmethodID setter) {
    if (!redirection.needs_bridge) return;
    jni::LocalRef<jobject> bridge(env, env->NewObject(stream_class.get(), stream_init));
    if (bridge) {
      env->SetLongField(bridge.get(), handle_field, static_cast<jlong>(redirection.target));
      jni::LocalRef<jobject> print(env, env->NewObject(print_class.get(), print_init, bridge.get()));
      if (print) env->CallStaticVoidMethod(system_class.get(), setter, print.get());
    }
    jni::CheckException(env, false);
  };
  install(output_, set_out);
  install(error_, set_err);
  return true;
}

void OutputRedirector::Release() {
  // What the launcher's own streams hold goes out first, to the targets.
  std::fflush(stdout);
  std::fflush(stderr);
  for (StandardStream stream : {StandardStream::kError, StandardStream::kOutput}) {
    StreamRedirection& redirection = Mutable(stream);
    if (!redirection.redirected) continue;
    platform::RestoreStandardStream(stream, redirection.saved);
    redirection = StreamRedirection();
  }
  for (OutputTarget& target : targets_) platform::CloseNativeHandle(target.handle);
  targets_.clear();
}

void RedirectStandardError(const std::string& target) {
  ProcessRedirector().Redirect(platform::StandardStream::kError, target);
}

void RedirectStandardOutput(const std::string& target) {
  ProcessRedirector().Redirect(platform::StandardStream::kOutput, target);
}

}  // namespace nxo::console
