#include "natives/remembered_keys.h"

#include <atomic>
#include <string>

#include "config/keys.h"
#include "config/launch_config.h"
#include "support/text.h"

namespace nxo::natives {
namespace {

enum Remembered : int { kUnread, kOff, kOn };

std::atomic<int> compatible{kUnread};
std::atomic<int> fake_class_bytes_off{kUnread};
std::atomic<int> use_jar_protocol_off{kUnread};

using KeyAccessor = std::string (*)(const config::LaunchConfig&);

// The first reading is not serialised: threads that arrive together each read
// the key and store the same answer. Without a published configuration the
// key counts as absent.
bool Remember(std::atomic<int>& slot, KeyAccessor accessor, const char* wanted) {
  int state = slot.load(std::memory_order_relaxed);
  if (state == kUnread) {
    const config::LaunchConfig* config = config::CurrentConfig();
    const std::string value = config != nullptr ? accessor(*config) : std::string();
    state = EqualsIgnoreCase(value, wanted) ? kOn : kOff;
    slot.store(state, std::memory_order_relaxed);
  }
  return state == kOn;
}

}  // namespace

bool CompatibleOn() { return Remember(compatible, config::keys::Compatible, "true"); }

bool FakeClassBytesOff() {
  return Remember(fake_class_bytes_off, config::keys::FakeClassBytes, "false");
}

bool UseJarProtocolOff() {
  return Remember(use_jar_protocol_off, config::keys::UseJarProtocol, "false");
}

void ForgetRememberedKeysForTesting() {
  compatible.store(kUnread);
  fake_class_bytes_off.store(kUnread);
  use_jar_protocol_off.store(kUnread);
}

}  // namespace nxo::natives
