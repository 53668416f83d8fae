// Running instances of one application, as start-up sees them: the shared
// instance table, the single-instance lock and the start of messaging.
#pragma once

#include <memory>
#include <string>

#include "instances/instance_state.h"
#include "platform/platform.h"

namespace nxo::instances {

// The table mapped for the run and this process's registration in it.
class InstanceGroup {
 public:
  InstanceGroup() = default;
  ~InstanceGroup() { Close(); }
  InstanceGroup(const InstanceGroup&) = delete;
  InstanceGroup& operator=(const InstanceGroup&) = delete;

  // Maps the table (the mapping named after |appid|, or the executable's
  // own region when it is empty) and registers this process. Without a
  // table the application runs without instance features: State() is null.
  void Open(const std::string& appid);
  // Destroys the state first, then unmaps, so that no thread reads the table
  // after it is gone.
  void Close();
  InstanceState* State() const { return state_.get(); }

 private:
  platform::SharedRegion region_;
  std::unique_ptr<InstanceState> state_;
};

// The process-wide instance state that the natives use; null without a table.
InstanceState* CurrentInstanceState();
void SetCurrentInstanceState(InstanceState* state);

// Takes the single-instance lock named after |appid| or, when it is empty,
// |executable_path|. False when another instance holds it or the lock cannot
// be made (then "CreateMutex error: %d" goes to standard output first).
bool SingleInstanceLock(const std::string& appid, const std::string& executable_path);

// Starts delivery of messages sent by other instances to |receiver| (once
// per process).
void StartMessaging(MessageReceiver* receiver);

}  // namespace nxo::instances
