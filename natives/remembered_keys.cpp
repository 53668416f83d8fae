#include "natives/remembered_keys.h"

#include "config/keys.h"

namespace nxo::natives {
namespace {

enum Remembered : int { kUnread, kOff, kOn };

std::atomic<NativeContext*> published{nullptr};

using KeyAccessor = bool (*)(const config::LaunchConfig&);

// The first reading is not serialised: threads that arrive together each read
// the key and store the same answer. Without a published context nothing is
// remembered, and without a configuration the key counts as absent: the flag
// keeps its default.
bool Remember(std::atomic<int> RememberedKeys::*slot, KeyAccessor accessor, bool default_value) {
  NativeContext* context = published.load(std::memory_order_acquire);
  if (context == nullptr) return default_value;
  std::atomic<int>& remembered = context->keys.*slot;
  int state = remembered.load(std::memory_order_relaxed);
  if (state == kUnread) {
    const config::LaunchConfig* config = context->config;
    state = (config != nullptr ? accessor(*config) : default_value) ? kOn : kOff;
    remembered.store(state, std::memory_order_relaxed);
  }
  return state == kOn;
}

}  // namespace

void PublishNativeContext(NativeContext* context) {
  published.store(context, std::memory_order_release);
}

bool CompatibleOn() { return Remember(&RememberedKeys::compatible, config::keys::Compatible, false); }

bool FakeClassBytesOff() {
  return !Remember(&RememberedKeys::fake_class_bytes, config::keys::FakeClassBytes, true);
}

bool UseJarProtocolOff() {
  return !Remember(&RememberedKeys::use_jar_protocol, config::keys::UseJarProtocol, true);
}

}  // namespace nxo::natives
