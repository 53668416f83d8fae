#include "instances/instance_state.h"

#include <algorithm>
#include <cstring>

namespace nxo::instances {

namespace {

// How long the end of the run waits for the messaging thread to leave the
// table, and how long flush waits for the queue.
constexpr unsigned kThreadStopWaitMilliseconds = 1000;
constexpr unsigned kFlushLimitMilliseconds = 5000;

}  // namespace

// Holds the table's registration lock for a scope.
class InstanceState::RegistrationHold {
 public:
  explicit RegistrationHold(platform::SharedRegion* region) : region_(region) {
    if (region_ != nullptr) region_->LockRegistration();
  }
  ~RegistrationHold() {
    if (region_ != nullptr) region_->UnlockRegistration();
  }
  RegistrationHold(const RegistrationHold&) = delete;
  RegistrationHold& operator=(const RegistrationHold&) = delete;

 private:
  platform::SharedRegion* region_;
};

InstanceState::InstanceState(InstanceTable* table, platform::SharedRegion* region)
    : table_(table), region_(region), own_id_(platform::CurrentProcessId()) {
  Register();
}

InstanceState::~InstanceState() {
  if (Stop()) {
    platform::DestroySignal(queue_drained_);
    platform::DestroySignal(thread_ended_);
  }
}

bool InstanceState::Stop() {
  running_ = false;
  bool ended = true;
  if (started_) {
    Pulse();  // wakes our own messaging thread, wherever it waits
    ended = platform::WaitForSignal(thread_ended_, kThreadStopWaitMilliseconds);
  }
  // A thread still busy (in a receiver that does not return) keeps the
  // objects it uses; the process is ending anyway.
  if (ended) {
    owner_process_.Close();
    group_.Close();
  }
  return ended;
}

// ---- Registration and owner ------------------------------------------------------

void InstanceState::Register() {
  RegistrationHold hold(region_);
  RefreshOwnerLocked();
  PruneLocked();
  const std::int32_t count = Load(table_->instanceCount);
  if (count < kMaxInstances) {
    Store(table_->instanceIds[count], own_id_);
    if (platform::ProcessStampsTellReuse())
      table_->instanceStamps[count] = platform::ProcessLifeStamp(own_id_);
    Store(table_->instanceCount, count + 1);
  }
}

void InstanceState::RefreshOwner() {
  const std::int32_t owner = Load(table_->ownerId);
  if (owner == own_id_ && known_owner_id_ == own_id_) return;
  if (owner != 0 && owner == known_owner_id_ && owner_process_.StillActive()) return;
  RegistrationHold hold(region_);
  RefreshOwnerLocked();
}

void InstanceState::RefreshOwnerLocked() {
  const std::int32_t owner = Load(table_->ownerId);
  if (owner == 0) {
    BecomeOwner();
    return;
  }
  if (owner == own_id_) {
    // Our id, but not our ownership: an ended process that had the same id
    // owned the group. Take over, with objects this process holds.
    if (known_owner_id_ != own_id_) BecomeOwner();
    return;
  }
  if (owner == known_owner_id_ && owner_process_.StillActive()) return;
  if (IsInstanceAlive(owner)) {
    if (owner == known_owner_id_) return;
    // Follow the new owner; handles already held name the same objects.
    known_owner_id_ = owner;
    owner_process_.Open(owner);
    if (!group_.HoldsMutex())
      group_.AdoptMutex(owner_process_, Load(table_->ownerMutex), table_->groupObjects);
    if (!group_.HoldsEvent()) group_.AdoptEvent(owner_process_, Load(table_->ownerEvent));
    return;
  }
  BecomeOwner();
}

void InstanceState::BecomeOwner() {
  // A process that never held the group objects (it never saw a live owner)
  // reaches them where they outlive their maker, and otherwise makes new
  // ones, as the first owner does.
  if (Load(table_->ownerId) != 0) {
    if (!group_.HoldsMutex())
      group_.AdoptMutex(owner_process_, Load(table_->ownerMutex), table_->groupObjects);
    if (!group_.HoldsEvent()) group_.AdoptEvent(owner_process_, Load(table_->ownerEvent));
  }
  if (!group_.HoldsMutex() || !group_.HoldsEvent()) group_.Create(table_->groupObjects);
  owner_process_.Close();
  known_owner_id_ = own_id_;
  if (platform::ProcessStampsTellReuse()) table_->ownerStamp = platform::ProcessLifeStamp(own_id_);
  Store(table_->ownerMutex, group_.MutexValue());
  Store(table_->ownerEvent, group_.EventValue());
  Store(table_->ownerId, own_id_);
}

std::uint32_t InstanceState::RecordedStamp(std::int32_t id) const {
  if (id == Load(table_->ownerId)) return table_->ownerStamp;
  const std::int32_t count = std::clamp(Load(table_->instanceCount), 0, kMaxInstances);
  for (std::int32_t i = 0; i < count; ++i)
    if (Load(table_->instanceIds[i]) == id) return table_->instanceStamps[i];
  return 0;
}

bool InstanceState::IsInstanceAlive(std::int32_t id) const {
  if (id <= 0) return false;
  const std::uint32_t stamp = platform::ProcessLifeStamp(id);
  if (stamp == 0) return false;
  if (!platform::ProcessStampsTellReuse()) return true;
  // An id whose recorded start differs belongs to a later process.
  const std::uint32_t recorded = RecordedStamp(id);
  return recorded == 0 || recorded == stamp;
}

void InstanceState::PruneInstances() {
  RegistrationHold hold(region_);
  PruneLocked();
}

void InstanceState::PruneLocked() {
  const std::int32_t owner = Load(table_->ownerId);
  const std::int32_t count = std::clamp(Load(table_->instanceCount), 0, kMaxInstances);
  std::int32_t kept = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t id = Load(table_->instanceIds[i]);
    if (id == owner || !IsInstanceAlive(id)) continue;
    const std::uint32_t stamp = table_->instanceStamps[i];
    Store(table_->instanceIds[kept], id);
    table_->instanceStamps[kept] = stamp;
    ++kept;
  }
  Store(table_->instanceCount, kept);
}

std::vector<std::int32_t> InstanceState::Instances() {
  RegistrationHold hold(region_);
  PruneLocked();
  std::vector<std::int32_t> ids{Load(table_->ownerId)};
  const std::int32_t count = Load(table_->instanceCount);
  for (std::int32_t i = 0; i < count; ++i) ids.push_back(Load(table_->instanceIds[i]));
  return ids;
}

// ---- Messaging ----------------------------------------------------------------------

void InstanceState::Pulse() { group_.Pulse(&table_->pulseCount); }

void InstanceState::WaitForPulse() {
  group_.WaitForPulse(&table_->pulseCount, last_pulse_seen_,
                      owner_process_.IsOpen() ? &owner_process_ : nullptr);
  last_pulse_seen_ = Load(table_->pulseCount);
}

void InstanceState::StartMessaging(MessageReceiver* receiver) {
  if (started_) return;
  receiver_ = receiver;
  // Without a thread (or the signals it raises) there are no messages, as
  // without a table.
  if (queue_drained_ == nullptr || thread_ended_ == nullptr) return;
  started_ = platform::StartDetachedThread(RunMessagingThread, this);
}

void InstanceState::Send(std::int32_t recipient, std::string bytes) {
  if (!started_ || bytes.empty()) return;
  {
    std::lock_guard<platform::Mutex> hold(queue_lock_);
    OutgoingMessage message;
    message.recipient = recipient;
    message.bytes = std::move(bytes);
    queue_.push_back(std::move(message));
  }
  Pulse();
}

bool InstanceState::QueueEmpty() {
  std::lock_guard<platform::Mutex> hold(queue_lock_);
  return queue_.empty();
}

void InstanceState::Flush() {
  if (!started_) return;
  {
    // Lowered only while chunks wait, under the lock that empties the queue.
    std::lock_guard<platform::Mutex> hold(queue_lock_);
    if (queue_.empty()) return;
    platform::ResetSignal(queue_drained_);
  }
  platform::WaitForSignal(queue_drained_, kFlushLimitMilliseconds);
}

unsigned InstanceState::RunMessagingThread(void* state) {
  static_cast<InstanceState*>(state)->MessagingThread();
  return 0;
}

void InstanceState::MessagingThread() {
  while (running_) {
    WaitForPulse();
    if (!running_) break;
    RefreshOwner();
    bool handled = false;
    PartialMessage completed;
    const bool whole = HandleSlot(handled, completed);
    if (whole && receiver_ != nullptr) receiver_->Deliver(completed.sender, completed.bytes);
  }
  platform::RaiseSignal(thread_ended_);
}

bool InstanceState::HandleSlot(bool& handled, PartialMessage& completed) {
  MessageSlot& slot = table_->slot;
  bool whole = false;
  if (Load(slot.slotFull) == 1) {
    // The sequence before the recipient: a chunk put in meanwhile then
    // differs in one of them, and is not taken for the one looked at.
    const std::int32_t sequence = Load(slot.chunkSequence);
    const std::int32_t recipient = Load(slot.recipientId);
    if (recipient == own_id_) {
      whole = TakeChunk(sequence, completed);
      handled = true;
    } else if (recipient == 0 && IsInstanceAlive(Load(slot.senderId))) {
      // A live claimant is still filling the slot: not abandoned.
      return false;
    } else if (Load(slot.waitCount) <= kMaxChunkWaits && IsInstanceAlive(recipient)) {
      if (Load(table_->ownerId) == own_id_) Store(slot.waitCount, Load(slot.waitCount) + 1);
      return false;
    } else {
      ReleaseSlot(recipient, sequence);  // abandoned
      handled = true;
    }
  }
  if (!QueueEmpty() && Load(slot.slotFull) == 0) {
    if (ClaimSlot()) {
      FillSlot();
      Pulse();
    } else if (handled) {
      Pulse();
    }
  } else if (handled) {
    Pulse();
  }
  return whole;
}

bool InstanceState::ReleaseSlot(std::int32_t recipient, std::int32_t sequence) {
  // Under the mutex and only while the slot still holds the chunk that was
  // looked at: another process may have freed it and a claimant refilled it
  // since, and clearing that would lose or mix chunks.
  MessageSlot& slot = table_->slot;
  group_.Lock();
  const bool current = Load(slot.slotFull) == 1 && Load(slot.recipientId) == recipient &&
                       Load(slot.chunkSequence) == sequence;
  if (current) Store(slot.slotFull, 0);
  group_.Unlock();
  return current;
}

bool InstanceState::ClaimSlot() {
  MessageSlot& slot = table_->slot;
  group_.Lock();
  const bool claimed = Load(slot.slotFull) == 0;
  if (claimed) {
    // The claimant's id goes in first, so that others see who fills it.
    Store(slot.senderId, own_id_);
    Store(slot.recipientId, 0);
    Store(slot.slotFull, 1);
  }
  group_.Unlock();
  return claimed;
}

void InstanceState::FillSlot() {
  OutgoingMessage* message;
  {
    std::lock_guard<platform::Mutex> hold(queue_lock_);
    message = &queue_.front();  // only this thread removes messages
  }
  MessageSlot& slot = table_->slot;
  const auto length = static_cast<std::int32_t>(message->bytes.size());
  if (message->sent == 0) {
    message->id = Load(table_->nextMessageId);
    Store(table_->nextMessageId, message->id + 1);
  }
  const std::int32_t chunk_length = std::min(kChunkCapacity, length - message->sent);
  Store(slot.senderId, own_id_);
  Store(slot.chunkCapacity, kChunkCapacity);
  Store(slot.messageId, message->id);
  const std::int32_t sequence = Load(table_->nextChunkSequence);
  Store(slot.chunkSequence, sequence);
  Store(table_->nextChunkSequence, sequence + 1);
  Store(slot.totalLength, length);
  Store(slot.lastChunkIndex, (length - 1) / kChunkCapacity);
  Store(slot.chunkIndex, message->sent / kChunkCapacity);
  Store(slot.chunkLength, chunk_length);
  Store(slot.slotFull, 1);
  Store(slot.waitCount, 0);
  std::memcpy(slot.chunkData, message->bytes.data() + message->sent,
              static_cast<std::size_t>(chunk_length));
  Store(slot.recipientId, message->recipient);  // last: the chunk is complete
  message->sent += kChunkCapacity;
  if (message->sent >= length) {
    std::lock_guard<platform::Mutex> hold(queue_lock_);
    queue_.pop_front();
    if (queue_.empty()) platform::RaiseSignal(queue_drained_);
  }
}

bool InstanceState::TakeChunk(std::int32_t sequence, PartialMessage& completed) {
  // A copy first: the slot is only ours while it still holds this chunk.
  const MessageSlot& slot = table_->slot;
  const std::int32_t message_id = Load(slot.messageId);
  const std::int32_t sender = Load(slot.senderId);
  const std::int32_t index = Load(slot.chunkIndex);
  const std::int32_t last = Load(slot.lastChunkIndex);
  const std::int32_t length = Load(slot.chunkLength);
  const std::int32_t total = Load(slot.totalLength);
  // The slot is written by other processes: a chunk that cannot belong to
  // the message it names ends that message.
  const bool sound = length >= 1 && length <= kChunkCapacity && total > 0;
  std::string data;
  if (sound) data.assign(reinterpret_cast<const char*>(slot.chunkData), static_cast<std::size_t>(length));
  if (!ReleaseSlot(own_id_, sequence)) return false;  // abandoned meanwhile: missed

  auto partial = partial_.end();
  if (index == 0) {
    PartialMessage fresh;
    fresh.id = message_id;
    fresh.sender = sender;
    partial = partial_.insert(partial_.end(), std::move(fresh));
  } else {
    partial = std::find_if(partial_.begin(), partial_.end(),
                           [&](const PartialMessage& p) { return p.id == message_id; });
  }
  if (partial == partial_.end()) return false;  // continues no known message
  if (!sound || partial->chunks != index ||
      static_cast<std::int64_t>(partial->bytes.size()) + length > total) {
    partial_.erase(partial);  // a chunk was missed: the message is lost
    return false;
  }
  partial->bytes += data;
  ++partial->chunks;
  if (index != last) return false;
  completed = std::move(*partial);
  partial_.erase(partial);
  return true;
}

}  // namespace nxo::instances
