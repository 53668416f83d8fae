// One process's view of the instance table: its registration, the owner it
// follows, and the messaging thread that moves chunks through the slot.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "instances/instance_table.h"
#include "platform/platform.h"

namespace nxo::instances {

// Where completed messages go: the Java receiver in the launcher, raw bytes
// in tests. Called on the messaging thread, one message at a time.
class MessageReceiver {
 public:
  virtual ~MessageReceiver() = default;
  virtual void Deliver(std::int32_t sender, const std::string& bytes) = 0;
};

class InstanceState {
 public:
  // Registers this process in |table|. |region| serialises registration
  // among the processes that share the table.
  InstanceState(InstanceTable* table, platform::SharedRegion* region);
  // Stops the messaging thread and releases the group objects; the table is
  // left as it is. The table must stay mapped until this returns.
  ~InstanceState();
  // Ends the messaging thread (waiting about a second for it) and releases
  // the group objects. False when the thread is still busy: then the table
  // must stay mapped for the rest of the process.
  bool Stop();
  InstanceState(const InstanceState&) = delete;
  InstanceState& operator=(const InstanceState&) = delete;

  std::int32_t OwnId() const { return own_id_; }
  std::int32_t OwnerId() const { return Load(table_->ownerId); }

  // Keeps the owner current: becomes owner of an ownerless group, follows a
  // new live owner, takes over from a dead one.
  void RefreshOwner();
  // Drops the owner and dead processes from the list, keeping the order.
  void PruneInstances();
  bool IsInstanceAlive(std::int32_t id) const;
  // After pruning: the owner, then the listed instances.
  std::vector<std::int32_t> Instances();

  // Starts the messaging thread once, delivering to |receiver|.
  void StartMessaging(MessageReceiver* receiver);
  bool MessagingStarted() const { return started_; }
  // Queues |bytes| for |recipient| and wakes the group; nothing before
  // StartMessaging.
  void Send(std::int32_t recipient, std::string bytes);
  // Waits, at most about 5 s, until every queued chunk has gone to the slot.
  void Flush();

 private:
  struct OutgoingMessage {
    std::int32_t recipient = 0;
    std::string bytes;
    std::int32_t sent = 0;
    std::int32_t id = 0;
  };
  struct PartialMessage {
    std::int32_t id = 0;
    std::int32_t sender = 0;
    std::int32_t chunks = 0;
    std::string bytes;
  };
  class RegistrationHold;

  void Register();
  void RefreshOwnerLocked();
  void PruneLocked();
  void BecomeOwner();
  std::uint32_t RecordedStamp(std::int32_t id) const;
  void Pulse();
  void WaitForPulse();
  static unsigned RunMessagingThread(void* state);
  void MessagingThread();
  // One pass over the slot; true when |completed| received a whole message.
  bool HandleSlot(bool& handled, PartialMessage& completed);
  bool TakeChunk(std::int32_t sequence, PartialMessage& completed);
  bool ClaimSlot();
  // Frees the slot if it still holds the chunk with |sequence| for
  // |recipient|; false when it holds another by now.
  bool ReleaseSlot(std::int32_t recipient, std::int32_t sequence);
  void FillSlot();
  bool QueueEmpty();

  InstanceTable* table_;
  platform::SharedRegion* region_;
  const std::int32_t own_id_;
  std::int32_t known_owner_id_ = 0;
  platform::ProcessWatch owner_process_;
  platform::GroupObjects group_;
  std::int32_t last_pulse_seen_ = 0;
  platform::Mutex queue_lock_;
  MessageReceiver* receiver_ = nullptr;
  std::atomic<bool> running_{true};
  std::deque<OutgoingMessage> queue_;
  // Raised whenever the queue is empty.
  platform::SignalRef queue_drained_ = platform::CreateSignal();
  std::list<PartialMessage> partial_;
  std::atomic<bool> started_{false};
  // The messaging thread's end, so that the table outlives its last read.
  platform::SignalRef thread_ended_ = platform::CreateSignal();
};

}  // namespace nxo::instances
