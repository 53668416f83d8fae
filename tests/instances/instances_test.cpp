// The instance table and the slot protocol inside one process, on a table in
// ordinary memory: registration, owner rules, pruning, chunking, and the
// slot states that other processes can leave behind.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "instances/instance_state.h"
#include "instances/instance_table.h"
#include "platform/platform.h"

namespace nxo::instances {
namespace {

// No process has this id: Linux ids stay below 2^22, Windows ids are
// multiples of 4.
constexpr std::int32_t kDeadId = 0x7ffffffd;

TEST(InstanceNames, FollowTheRulesForMappingAndLock) {
  struct Case {
    const char* appid;
    const char* executable;
    const char* mapping;
    const char* mutex;
  } cases[] = {
      {"My\\App", "", "My.App.nxo.mapping", "My.App.nxo.mutex"},
      {"C:\\Apps", "", "C:.Apps.nxo.mapping", "C..Apps.nxo.mutex"},
      {"", "C:\\Tools\\app.exe", nullptr, "C..Tools.app.exe.nxo.mutex"},
      {"", "/opt/tools/app", nullptr, "/opt/tools/app.nxo.mutex"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.appid) + c.executable);
    if (c.mapping != nullptr) {
      EXPECT_EQ(MappingName(c.appid), c.mapping);
    }
    EXPECT_EQ(MutexName(c.appid, c.executable), c.mutex);
  }
}

class Recorder : public MessageReceiver {
 public:
  void Deliver(std::int32_t sender, const std::string& bytes) override {
    std::lock_guard<std::mutex> hold(lock_);
    received_.push_back({sender, bytes});
    arrived_.notify_all();
  }
  // Waits up to |seconds| for |count| messages.
  std::vector<std::pair<std::int32_t, std::string>> Await(std::size_t count, int seconds = 10) {
    std::unique_lock<std::mutex> hold(lock_);
    arrived_.wait_for(hold, std::chrono::seconds(seconds),
                      [&] { return received_.size() >= count; });
    return received_;
  }

 private:
  std::mutex lock_;
  std::condition_variable arrived_;
  std::vector<std::pair<std::int32_t, std::string>> received_;
};

std::string Pattern(std::size_t length, std::size_t seed) {
  std::string bytes(length, '\0');
  for (std::size_t i = 4; i < length; ++i) bytes[i] = static_cast<char>(i * 7 + seed);
  return bytes;
}

class InstanceTableTest : public ::testing::Test {
 protected:
  InstanceTableTest() : storage_(new InstanceTable{}) {}
  InstanceTable& table() { return *storage_; }
  std::unique_ptr<InstanceTable> storage_;
};

TEST_F(InstanceTableTest, FirstCopyOwnsTheGroupAndListsItselfOnce) {
  InstanceState state(&table(), nullptr);
  const std::int32_t own = platform::CurrentProcessId();
  EXPECT_EQ(table().ownerId, own);
  EXPECT_NE(table().ownerMutex, 0);
  EXPECT_NE(table().ownerEvent, 0);
  EXPECT_EQ(table().instanceCount, 1);
  EXPECT_EQ(table().instanceIds[0], own);
  EXPECT_EQ(state.Instances(), std::vector<std::int32_t>{own});
  EXPECT_EQ(table().instanceCount, 0);  // the owner's own entry is pruned
}

TEST_F(InstanceTableTest, ADeadOwnerIsTakenOverAndDeadEntriesPruned) {
  table().ownerId = kDeadId;
  table().instanceCount = 2;
  table().instanceIds[0] = kDeadId - 4;
  table().instanceIds[1] = kDeadId - 8;
  InstanceState state(&table(), nullptr);
  const std::int32_t own = platform::CurrentProcessId();
  EXPECT_EQ(state.OwnerId(), own);
  // Never having held the group objects, it made fresh ones.
  EXPECT_NE(table().ownerMutex, 0);
  EXPECT_NE(table().ownerEvent, 0);
  EXPECT_EQ(state.Instances(), std::vector<std::int32_t>{own});
}

TEST_F(InstanceTableTest, AStaleOwnerEntryWithOurOwnIdIsTakenOver) {
  // An earlier process that had this id owned the group and is gone.
  const std::int32_t own = platform::CurrentProcessId();
  table().ownerId = own;
  table().ownerStamp = platform::ProcessLifeStamp(own) + 1;
  InstanceState state(&table(), nullptr);
  EXPECT_EQ(state.OwnerId(), own);
  EXPECT_NE(table().ownerMutex, 0);  // this process made and published its objects
  EXPECT_NE(table().ownerEvent, 0);
  if (platform::ProcessStampsTellReuse()) {
    EXPECT_EQ(table().ownerStamp, platform::ProcessLifeStamp(own));
    table().ownerStamp += 1;
    EXPECT_FALSE(state.IsInstanceAlive(own));  // a stamp from another start
  }
}

TEST_F(InstanceTableTest, A251stCopyRunsUnlisted) {
  if (!platform::ProcessStampsTellReuse()) GTEST_SKIP() << "needs a second live id";
  const std::int32_t own = platform::CurrentProcessId();
  table().ownerId = 1;  // init: always running
  table().ownerStamp = platform::ProcessLifeStamp(1);
  table().instanceCount = kMaxInstances;
  for (int i = 0; i < kMaxInstances; ++i) {
    table().instanceIds[i] = own;
    table().instanceStamps[i] = platform::ProcessLifeStamp(own);
  }
  InstanceState state(&table(), nullptr);
  EXPECT_EQ(table().instanceCount, kMaxInstances);
  EXPECT_EQ(state.OwnerId(), 1);
  EXPECT_EQ(state.Instances().size(), 1u + kMaxInstances);
}

TEST_F(InstanceTableTest, MessagesCrossChunkBoundariesWhole) {
  InstanceState state(&table(), nullptr);
  Recorder recorder;
  state.StartMessaging(&recorder);
  const std::int32_t own = state.OwnId();
  const std::size_t lengths[] = {4, 1024, 1025, 3000, 65536};
  for (std::size_t i = 0; i < std::size(lengths); ++i)
    state.Send(own, Pattern(lengths[i], i));
  state.Flush();
  const auto received = recorder.Await(std::size(lengths));
  ASSERT_EQ(received.size(), std::size(lengths));
  for (std::size_t i = 0; i < std::size(lengths); ++i) {
    EXPECT_EQ(received[i].first, own);
    EXPECT_EQ(received[i].second, Pattern(lengths[i], i)) << lengths[i];
  }
  // The last chunk of 65536 bytes filled the slot whole.
  EXPECT_EQ(table().slot.chunkCapacity, 1024);
  EXPECT_EQ(table().slot.lastChunkIndex, 63);
  EXPECT_EQ(table().slot.chunkIndex, 63);
  EXPECT_EQ(table().slot.chunkLength, 1024);
  EXPECT_EQ(table().slot.slotFull, 0);
}

TEST_F(InstanceTableTest, A1025ByteMessageEndsWithAOneByteChunk) {
  InstanceState state(&table(), nullptr);
  Recorder recorder;
  state.StartMessaging(&recorder);
  state.Send(state.OwnId(), Pattern(1025, 9));
  ASSERT_EQ(recorder.Await(1).size(), 1u);
  EXPECT_EQ(table().slot.totalLength, 1025);
  EXPECT_EQ(table().slot.lastChunkIndex, 1);
  EXPECT_EQ(table().slot.chunkIndex, 1);
  EXPECT_EQ(table().slot.chunkLength, 1);
  EXPECT_EQ(table().nextMessageId, 1);
  EXPECT_EQ(table().nextChunkSequence, 2);
}

TEST_F(InstanceTableTest, AChunkForADeadRecipientIsAbandoned) {
  InstanceState state(&table(), nullptr);
  table().slot.recipientId = kDeadId;
  table().slot.senderId = kDeadId;
  table().slot.slotFull = 1;
  Recorder recorder;
  state.StartMessaging(&recorder);
  state.Send(state.OwnId(), Pattern(2000, 1));
  const auto received = recorder.Await(1);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].second, Pattern(2000, 1));
}

TEST_F(InstanceTableTest, ASlotBeingFilledByALiveClaimantIsLeftAlone) {
  InstanceState state(&table(), nullptr);
  // A live process (this one stands in) has claimed the slot and is filling it.
  table().slot.senderId = state.OwnId();
  table().slot.recipientId = 0;
  table().slot.slotFull = 1;
  Recorder recorder;
  state.StartMessaging(&recorder);
  state.Send(state.OwnId(), Pattern(100, 2));
  EXPECT_TRUE(recorder.Await(1, 1).empty());
  EXPECT_EQ(Load(table().slot.slotFull), 1);
  EXPECT_EQ(Load(table().slot.recipientId), 0);
  // The claimant dies before it finished: then the slot is abandoned.
  Store(table().slot.senderId, kDeadId);
  state.Send(state.OwnId(), Pattern(200, 3));
  const auto received = recorder.Await(2);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].second, Pattern(100, 2));
  EXPECT_EQ(received[1].second, Pattern(200, 3));
}

TEST_F(InstanceTableTest, ChunksThatDoNotFitTheirMessageAreDropped) {
  InstanceState state(&table(), nullptr);
  Recorder recorder;
  // A first chunk whose length lies, and a continuation of an unknown message.
  struct Bad {
    std::int32_t index, last, length, total;
  } bad[] = {{0, 0, 5000, 5000}, {0, 0, 0, 10}, {3, 4, 100, 5000}, {0, 1, 1024, 100}};
  state.StartMessaging(&recorder);
  std::size_t delivered = 0;
  for (const Bad& b : bad) {
    MessageSlot& slot = table().slot;
    slot.senderId = state.OwnId();
    slot.messageId = 500;
    slot.chunkIndex = b.index;
    slot.lastChunkIndex = b.last;
    slot.chunkLength = b.length;
    slot.totalLength = b.total;
    Store(slot.slotFull, 1);
    Store(slot.recipientId, state.OwnId());
    state.Send(state.OwnId(), Pattern(10, delivered));  // wakes the thread
    const auto received = recorder.Await(delivered + 1);
    ASSERT_EQ(received.size(), delivered + 1);
    EXPECT_EQ(received[delivered].second, Pattern(10, delivered));
    ++delivered;
  }
}

}  // namespace
}  // namespace nxo::instances
