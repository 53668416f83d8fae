// Output redirection: the targets that standard output and error are sent
// to, the handles saved to give back at exit, and the Java-side bridge.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace nxo::console {

// One per distinct key value; the same value for both streams shares it.
struct OutputTarget {
  std::string name;  // the value after expansion, compared byte for byte
  platform::NativeHandle handle = platform::kInvalidHandle;
  bool is_pipe = false;
};

// What one standard stream was redirected to, and what it was before.
struct StreamRedirection {
  bool redirected = false;
  platform::NativeHandle saved = platform::kInvalidHandle;
  platform::NativeHandle target = platform::kInvalidHandle;
  bool needs_bridge = false;  // the system did not take the target handle
};

// The process's redirections; one, living until process end.
class OutputRedirector {
 public:
  OutputRedirector() = default;
  OutputRedirector(const OutputRedirector&) = delete;
  OutputRedirector& operator=(const OutputRedirector&) = delete;

  // Redirects |stream| to |value| unless it already is; false when the
  // target could not be opened or started (the stream is left alone).
  bool Redirect(platform::StandardStream stream, const std::string& value);

  const StreamRedirection& Of(platform::StandardStream stream) const;
  const std::vector<OutputTarget>& Targets() const { return targets_; }

  // System.setOut/System.setErr with a RedirOutputStream on the target, for
  // each stream the system did not take; nothing otherwise. False when a
  // class or member was missing (nothing is left pending).
  bool InstallJavaRedirection(JNIEnv* env) const;

  // At process end: flushes the C runtime's streams, gives the standard
  // streams back their saved handles, then closes the targets, so that no
  // standard handle ever names a closed one and a pipe's command reads to
  // its end. Idempotent.
  void Release();

 private:
  OutputTarget& Acquire(const std::string& value);
  StreamRedirection& Mutable(platform::StandardStream stream);

  std::vector<OutputTarget> targets_;
  StreamRedirection output_;
  StreamRedirection error_;
};

// The process's redirector; its release is registered with the C runtime's
// exit handlers when the first stream is redirected.
OutputRedirector& ProcessRedirector();

// The test seam that makes every redirection take the bridge path, as if
// the system had refused the new standard handle: set to any value.
inline constexpr char kForceBridgeVariable[] = "NXO_TEST_FORCE_OUTPUT_BRIDGE";

}  // namespace nxo::console
