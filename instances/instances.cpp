#include "instances/instances.h"

#include <atomic>
#include <cstdio>

#include "support/format.h"

namespace nxo::instances {

namespace {

std::atomic<InstanceState*> current_state{nullptr};

}  // namespace

void InstanceGroup::Open(const std::string& appid) {
  Close();
  if (!region_.Open(appid.empty() ? std::string() : MappingName(appid))) return;
  state_ = std::make_unique<InstanceState>(reinterpret_cast<InstanceTable*>(region_.Data()),
                                           &region_);
}

void InstanceGroup::Close() {
  if (state_ != nullptr && !state_->Stop()) {
    // The messaging thread is still inside a delivery: it keeps the state
    // and the table for the little that is left of the process.
    (void)state_.release();
    return;
  }
  state_.reset();
  region_.Close();
}

InstanceState* CurrentInstanceState() { return current_state.load(); }
void SetCurrentInstanceState(InstanceState* state) { current_state.store(state); }

bool SingleInstanceLock(const std::string& appid, const std::string& executable_path) {
  int error = 0;
  switch (platform::AcquireSingleInstanceLock(MutexName(appid, executable_path), error)) {
    case platform::SingleInstanceResult::kAcquired:
      return true;
    case platform::SingleInstanceResult::kHeldElsewhere:
      return false;
    case platform::SingleInstanceResult::kFailed:
      std::fputs(FormatText("CreateMutex error: %d\n", error).c_str(), stdout);
      std::fflush(stdout);
      return false;
  }
  return false;
}

void StartMessaging(MessageReceiver* receiver) {
  InstanceState* state = CurrentInstanceState();
  if (state != nullptr) state->StartMessaging(receiver);
}

}  // namespace nxo::instances
