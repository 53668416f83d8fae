// The configuration the natives read, and the switches they remember. The
// JVM calls the natives with no context of their own, so start-up publishes
// one NativeContext for them (PublishNativeContext); each switch is read at
// the first call that needs it and remembered in that context, so a
// configuration changed later has no effect on it.
#pragma once

#include <atomic>

#include "config/launch_config.h"

namespace nxo::natives {

struct RememberedKeys {
  // Each unread, off or on.
  std::atomic<int> compatible{0};
  std::atomic<int> fake_class_bytes{0};
  std::atomic<int> use_jar_protocol{0};
};

struct NativeContext {
  const config::LaunchConfig* config = nullptr;  // none: every key is absent
  RememberedKeys keys;
};

// Makes |context| the one the natives read (null: none). It must outlive
// every call of a native.
void PublishNativeContext(NativeContext* context);

// The flag "compatible" (embedded configuration only) is set.
bool CompatibleOn();
// The flag "fakeclassbytes" is cleared.
bool FakeClassBytesOff();
// The flag "usejarprotocol" is cleared.
bool UseJarProtocolOff();

}  // namespace nxo::natives
