// The table of running instances that all copies of one application share,
// byte for byte as every copy (32- or 64-bit, any version) reads it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace nxo::instances {

inline constexpr std::int32_t kChunkCapacity = 1024;
inline constexpr std::int32_t kMaxInstances = 250;
// How often the owner sees a chunk wait for a live recipient before anyone
// may abandon it.
inline constexpr std::int32_t kMaxChunkWaits = 10;

// The one slot through which message chunks travel, at offset 24.
struct MessageSlot {
  std::int32_t senderId;
  std::int32_t recipientId;  // 0 while the claimant fills the slot
  std::int32_t chunkSequence;
  std::int32_t slotFull;
  std::int32_t waitCount;
  std::int32_t messageId;
  std::int32_t chunkIndex;
  std::int32_t lastChunkIndex;
  std::int32_t chunkCapacity;
  std::int32_t totalLength;
  std::int32_t chunkLength;
  unsigned char chunkData[kChunkCapacity];
};

struct InstanceTable {
  std::int32_t ownerId;
  std::int32_t nextMessageId;
  std::int32_t nextChunkSequence;
  std::int32_t ownerMutex;  // handle values valid in the owner's process
  std::int32_t ownerEvent;
  std::int32_t pulseCount;
  MessageSlot slot;
  std::int32_t instanceCount;
  std::int32_t instanceIds[kMaxInstances];
  // The rest is zero where process ids cannot be reused unnoticed (Windows).
  // Elsewhere it holds the start stamps that tell a reused id apart, and the
  // group mutex itself.
  std::uint32_t ownerStamp;
  std::uint32_t instanceStamps[kMaxInstances];
  std::uint32_t reserved;
  alignas(8) unsigned char groupObjects[platform::GroupObjects::kStorageSize];
};

static_assert(offsetof(InstanceTable, pulseCount) == 20);
static_assert(offsetof(InstanceTable, slot) == 24);
static_assert(offsetof(InstanceTable, slot.recipientId) == 28);
static_assert(offsetof(InstanceTable, slot.chunkLength) == 64);
static_assert(offsetof(InstanceTable, slot.chunkData) == 68);
static_assert(offsetof(InstanceTable, instanceCount) == 1092);
static_assert(offsetof(InstanceTable, instanceIds) == 1096);
static_assert(offsetof(InstanceTable, ownerStamp) == 2096);
static_assert(sizeof(InstanceTable) <= platform::SharedRegion::kSize);

// Fields that other processes change are read and written whole, and a
// write is seen after everything written before it.
inline std::int32_t Load(const std::int32_t& field) {
  return std::atomic_ref<std::int32_t>(const_cast<std::int32_t&>(field))
      .load(std::memory_order_acquire);
}
inline void Store(std::int32_t& field, std::int32_t value) {
  std::atomic_ref<std::int32_t>(field).store(value, std::memory_order_release);
}

// The name of the mapping that holds the table of an application with
// |appid|: "\" becomes ".", then ".nxo.mapping".
std::string MappingName(const std::string& appid);

// The name of the single-instance lock: |appid|, or the executable's path
// when |appid| is empty, with ":" and "\" made ".", then ".nxo.mutex".
std::string MutexName(const std::string& appid, const std::string& executable_path);

}  // namespace nxo::instances
