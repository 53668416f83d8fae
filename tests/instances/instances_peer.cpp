// A process of the instance group driven through standard input, with raw
// byte messages instead of Java objects: the protocol between real processes
// on any platform, with nothing but the instance code and the platform seam.
//
//   instances_peer [region name]       ("" or no argument: the executable's own region)
//
// Commands, one a line; each answers one line:
//   start                    start messaging          -> "started"
//   id | first | list        own id, owner, listing   -> "id=N" / "first=N" / "list=a,b"
//   send TO LENGTH           a message of LENGTH      -> "sent"
//   stress SECONDS MAXLEN    messages of random length to random live peers
//                            for that long, then flush  -> "stressed sent=N"
//   flush                                             -> "flushed ms=N"
//   lockhold                 takes the group mutex and keeps it (to be killed)
//                                                     -> "locked"
//   quit                     ends the process after flush
// Received messages print "got from=N length=L intact=true|false".
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "instances/instance_state.h"
#include "platform/platform.h"

namespace {

using nxo::instances::InstanceState;

std::mutex output_lock;

void Say(const std::string& line) {
  std::lock_guard<std::mutex> hold(output_lock);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// A message: the 4-byte zero header, its own length and a seed, then bytes
// that follow from the seed, so that the receiver can check every byte.
std::string MakeMessage(std::uint32_t length, std::uint32_t seed) {
  if (length < 12) length = 12;
  std::string bytes(length, '\0');
  std::memcpy(&bytes[4], &length, 4);
  std::memcpy(&bytes[8], &seed, 4);
  for (std::uint32_t i = 12; i < length; ++i)
    bytes[i] = static_cast<char>((i * 131u + seed * 7u + (i >> 10)) & 0xff);
  return bytes;
}

bool Intact(const std::string& bytes) {
  if (bytes.size() < 12 || bytes.compare(0, 4, std::string(4, '\0')) != 0) return false;
  std::uint32_t length;
  std::uint32_t seed;
  std::memcpy(&length, &bytes[4], 4);
  std::memcpy(&seed, &bytes[8], 4);
  return length == bytes.size() && MakeMessage(length, seed) == bytes;
}

class PrintingReceiver : public nxo::instances::MessageReceiver {
 public:
  void Deliver(std::int32_t sender, const std::string& bytes) override {
    Say("got from=" + std::to_string(sender) + " length=" + std::to_string(bytes.size()) +
        " intact=" + (Intact(bytes) ? "true" : "false"));
  }
};

std::string Join(const std::vector<std::int32_t>& ids) {
  std::string text;
  for (std::int32_t id : ids) text += (text.empty() ? "" : ",") + std::to_string(id);
  return text;
}

void Stress(InstanceState& state, int seconds, std::uint32_t max_length) {
  std::mt19937 random(static_cast<unsigned>(state.OwnId()));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int sent = 0;
  while (std::chrono::steady_clock::now() < end) {
    const std::vector<std::int32_t> peers = state.Instances();
    const std::int32_t to = peers[random() % peers.size()];
    const std::uint32_t length = 12 + random() % max_length;
    state.Send(to, MakeMessage(length, random()));
    ++sent;
    // Keep the queue short, so that the run ends with little left to send.
    if (sent % 4 == 0) state.Flush();
  }
  state.Flush();
  Say("stressed sent=" + std::to_string(sent));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string name = argc > 1 ? argv[1] : "";
  nxo::platform::SharedRegion region;
  if (!region.Open(name)) {
    Say("no region");
    return 2;
  }
  auto* table = reinterpret_cast<nxo::instances::InstanceTable*>(region.Data());
  auto* state = new InstanceState(table, &region);
  PrintingReceiver receiver;
  nxo::platform::ProcessWatch own_watch;
  nxo::platform::GroupObjects held;
  std::string command;
  while (std::cin >> command) {
    if (command == "start") {
      state->StartMessaging(&receiver);
      Say("started");
    } else if (command == "id") {
      Say("id=" + std::to_string(state->OwnId()));
    } else if (command == "first") {
      Say("first=" + std::to_string(state->OwnerId()));
    } else if (command == "list") {
      Say("list=" + Join(state->Instances()));
    } else if (command == "send") {
      std::int32_t to = 0;
      std::uint32_t length = 0;
      std::cin >> to >> length;
      state->Send(to == 0 ? state->OwnerId() : to, MakeMessage(length, length * 3u + 1u));
      Say("sent");
    } else if (command == "stress") {
      int seconds = 0;
      std::uint32_t max_length = 0;
      std::cin >> seconds >> max_length;
      Stress(*state, seconds, max_length);
    } else if (command == "flush") {
      const auto begin = std::chrono::steady_clock::now();
      state->Flush();
      const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - begin);
      Say("flushed ms=" + std::to_string(took.count()));
    } else if (command == "lockhold") {
      // A second hold on the same group mutex, as any member reaches it.
      own_watch.Open(nxo::platform::CurrentProcessId());
      held.AdoptMutex(own_watch, table->ownerMutex, table->groupObjects);
      held.Lock();
      Say("locked");
    } else if (command == "quit") {
      break;
    }
  }
  state->Flush();
  if (state->Stop()) {
    delete state;
    region.Close();
  }
  return 0;
}
