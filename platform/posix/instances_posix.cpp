// POSIX implementation of the running-instance services (Linux): a POSIX
// shared-memory object as the region, flock for registration, pid plus start
// time for identity, a robust process-shared mutex and a futex for the group,
// a pidfd watcher for the owner's end, and an abstract UNIX socket as the
// single-instance lock.
#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/platform.h"

namespace nxo::platform {

ProcessId CurrentProcessId() { return static_cast<ProcessId>(::getpid()); }

std::uint32_t ProcessLifeStamp(ProcessId id) {
  if (id <= 0) return 0;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(id));
  std::string stat;
  if (!ReadWholeFile(path, stat)) return 0;
  // The command name may hold spaces and parentheses: fields follow the last ")".
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return 0;
  const char state = stat[close + 2];
  if (state == 'Z' || state == 'X' || state == 'x') return 0;
  // Field 3 is the state; the start time (in clock ticks since boot) is field 22.
  std::size_t at = close + 2;
  for (int field = 3; field < 22; ++field) {
    at = stat.find(' ', at);
    if (at == std::string::npos) return 0;
    ++at;
  }
  const unsigned long long start = std::strtoull(stat.c_str() + at, nullptr, 10);
  const auto stamp = static_cast<std::uint32_t>(start ^ (start >> 32));
  return stamp != 0 ? stamp : 1;
}

bool ProcessStampsTellReuse() { return true; }

// ---- Shared region -----------------------------------------------------------

namespace {

struct RegionLock {
  int fd = -1;
  Mutex threads;  // flock is per open file: it does not order our own threads
};

// "/" begins a shared-memory name and may appear nowhere else in it.
std::string SharedMemoryName(const std::string& name) {
  if (!name.empty()) {
    std::string flat = name;
    for (char& c : flat)
      if (c == '/') c = '.';
    return "/" + flat;
  }
  struct stat info;
  if (::stat("/proc/self/exe", &info) != 0) return "";
  char own[96];
  std::snprintf(own, sizeof own, "/nxo.%llx.%llx.nxo.mapping",
                static_cast<unsigned long long>(info.st_dev),
                static_cast<unsigned long long>(info.st_ino));
  return own;
}

}  // namespace

SharedRegion::~SharedRegion() { Close(); }

bool SharedRegion::Open(const std::string& name) {
  Close();
  const std::string shm_name = SharedMemoryName(name);
  if (shm_name.empty()) return false;
  const int fd = ::shm_open(shm_name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  struct stat info;
  // Growing to the same size from two processes at once keeps the zeros.
  if (::fstat(fd, &info) != 0 ||
      (static_cast<std::size_t>(info.st_size) < kSize && ::ftruncate(fd, kSize) != 0)) {
    ::close(fd);
    return false;
  }
  void* view = ::mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    ::close(fd);
    return false;
  }
  data_ = static_cast<unsigned char*>(view);
  auto* lock = new RegionLock;
  lock->fd = fd;
  registration_ = lock;
  return true;
}

void SharedRegion::Close() {
  if (data_ != nullptr) ::munmap(data_, kSize);
  data_ = nullptr;
  auto* lock = static_cast<RegionLock*>(registration_);
  if (lock != nullptr) {
    ::close(lock->fd);
    delete lock;
  }
  registration_ = nullptr;
}

void SharedRegion::LockRegistration() {
  auto* lock = static_cast<RegionLock*>(registration_);
  if (lock == nullptr) return;
  lock->threads.lock();
  while (::flock(lock->fd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

void SharedRegion::UnlockRegistration() {
  auto* lock = static_cast<RegionLock*>(registration_);
  if (lock == nullptr) return;
  ::flock(lock->fd, LOCK_UN);
  lock->threads.unlock();
}

// ---- Futex ------------------------------------------------------------------

namespace {

void FutexWakeAll(std::int32_t* word) {
  ::syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

void FutexWait(std::int32_t* word, std::int32_t expected) {
  ::syscall(SYS_futex, word, FUTEX_WAIT, expected, nullptr, nullptr, 0);
}

// Counts a pulse and wakes every waiter on the counter. The count comes
// first: a waiter that has not gone to sleep yet then finds it changed.
void CountAndWake(std::int32_t* pulse_count) {
  std::atomic_ref<std::int32_t>(*pulse_count).fetch_add(1, std::memory_order_acq_rel);
  FutexWakeAll(pulse_count);
}

// The open pidfd of a watched process and, once armed, the thread that
// pulses the group when it ends.
struct Watch {
  int pidfd = -1;
  int cancel = -1;  // eventfd that stops the thread
  std::int32_t* pulse_count = nullptr;
  bool waker_started = false;
  pthread_t waker{};
};

// The body of a watch's thread: pulses the group once the watched process
// ends, unless the watch is closed first.
void* WakeOnProcessEnd(void* raw) {
  const Watch& watch = *static_cast<const Watch*>(raw);
  pollfd fds[2] = {{watch.pidfd, POLLIN, 0}, {watch.cancel, POLLIN, 0}};
  while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
  }
  if ((fds[0].revents & POLLIN) != 0 && (fds[1].revents & POLLIN) == 0) CountAndWake(watch.pulse_count);
  return nullptr;
}

}  // namespace

// ---- Process watch -------------------------------------------------------------

ProcessWatch::~ProcessWatch() { Close(); }

bool ProcessWatch::Open(ProcessId id) {
  Close();
  const long pidfd = ::syscall(SYS_pidfd_open, static_cast<pid_t>(id), 0);
  if (pidfd < 0) return false;
  ::fcntl(static_cast<int>(pidfd), F_SETFD, FD_CLOEXEC);
  auto* watch = new Watch;
  watch->pidfd = static_cast<int>(pidfd);
  handle_ = watch;
  return true;
}

bool ProcessWatch::IsOpen() const { return handle_ != nullptr; }

bool ProcessWatch::StillActive() const {
  const auto* watch = static_cast<const Watch*>(handle_);
  if (watch == nullptr) return false;
  // A pidfd becomes readable when its process has ended.
  pollfd ended{watch->pidfd, POLLIN, 0};
  return ::poll(&ended, 1, 0) == 0;
}

void ProcessWatch::Close() {
  auto* watch = static_cast<Watch*>(handle_);
  if (watch == nullptr) return;
  if (watch->waker_started) {
    const std::uint64_t stop = 1;
    if (::write(watch->cancel, &stop, sizeof stop) < 0) {
    }
    ::pthread_join(watch->waker, nullptr);
  }
  if (watch->cancel >= 0) ::close(watch->cancel);
  ::close(watch->pidfd);
  delete watch;
  handle_ = nullptr;
}

// ---- Group objects -------------------------------------------------------------

GroupObjects::~GroupObjects() { Close(); }

bool GroupObjects::Create(unsigned char* storage) {
  static_assert(sizeof(pthread_mutex_t) <= kStorageSize);
  auto* mutex = reinterpret_cast<pthread_mutex_t*>(storage);
  pthread_mutexattr_t attributes;
  if (::pthread_mutexattr_init(&attributes) != 0) return false;
  ::pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  ::pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  const bool made = ::pthread_mutex_init(mutex, &attributes) == 0;
  ::pthread_mutexattr_destroy(&attributes);
  if (!made) return false;
  mutex_ = mutex;
  event_ = storage;  // the pulse counter is the event; this marks it held
  return true;
}

bool GroupObjects::AdoptMutex(const ProcessWatch&, std::int32_t value, unsigned char* storage) {
  // The mutex lives in the region: a published value says it was made.
  if (value == 0) return false;
  mutex_ = storage;
  return true;
}

bool GroupObjects::AdoptEvent(const ProcessWatch&, std::int32_t value) {
  if (value == 0) return false;
  event_ = this;
  return true;
}

std::int32_t GroupObjects::MutexValue() const { return mutex_ != nullptr ? 1 : 0; }
std::int32_t GroupObjects::EventValue() const { return event_ != nullptr ? 1 : 0; }

void GroupObjects::Lock() {
  auto* mutex = static_cast<pthread_mutex_t*>(mutex_);
  if (mutex == nullptr) return;
  if (::pthread_mutex_lock(mutex) == EOWNERDEAD) {
    // The holder died while claiming the slot; the claim is complete or
    // harmless either way, so the mutex is simply made usable again.
    ::pthread_mutex_consistent(mutex);
  }
}

void GroupObjects::Unlock() {
  auto* mutex = static_cast<pthread_mutex_t*>(mutex_);
  if (mutex != nullptr) ::pthread_mutex_unlock(mutex);
}

void GroupObjects::Pulse(std::int32_t* pulse_count) { CountAndWake(pulse_count); }

void GroupObjects::WaitForPulse(std::int32_t* pulse_count, std::int32_t last_seen,
                                ProcessWatch* owner) {
  // Once per watched owner, a thread that pulses the group when the owner
  // ends, so that waiters wake to take over without polling.
  if (owner != nullptr && owner->handle_ != nullptr) {
    auto* watch = static_cast<Watch*>(owner->handle_);
    if (!watch->waker_started && watch->cancel < 0) {  // one attempt per watch
      watch->cancel = ::eventfd(0, EFD_CLOEXEC);
      if (watch->cancel >= 0) {
        watch->pulse_count = pulse_count;
        watch->waker_started = ::pthread_create(&watch->waker, nullptr, WakeOnProcessEnd, watch) == 0;
      }
    }
  }
  if (std::atomic_ref<std::int32_t>(*pulse_count).load(std::memory_order_acquire) != last_seen)
    return;
  FutexWait(pulse_count, last_seen);
}

void GroupObjects::Close() {
  mutex_ = nullptr;
  event_ = nullptr;
}

// ---- Single-instance lock ----------------------------------------------------

namespace {

// An abstract socket name holds at most 107 bytes; longer names keep their
// start and a hash of the whole.
std::string AbstractSocketName(const std::string& name) {
  constexpr std::size_t kLimit = sizeof(sockaddr_un::sun_path) - 1;
  if (name.size() <= kLimit) return name;
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(hash));
  return name.substr(0, kLimit - std::strlen(suffix)) + suffix;
}

}  // namespace

SingleInstanceResult AcquireSingleInstanceLock(const std::string& name, int& error) {
  // A bound abstract socket is the lock: the kernel frees the name when the
  // last descriptor closes, however the process ends, and leaves no file.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = errno;
    return SingleInstanceResult::kFailed;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string abstract = AbstractSocketName(name);
  std::memcpy(address.sun_path + 1, abstract.data(), abstract.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + abstract.size());
  // Up to 100 ms for a holder that is just ending.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
  for (;;) {
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0)
      return SingleInstanceResult::kAcquired;  // fd stays open until the process ends
    if (errno != EADDRINUSE) {
      error = errno;
      ::close(fd);
      return SingleInstanceResult::kFailed;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    const timespec pause{0, 10 * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
  }
  ::close(fd);
  return SingleInstanceResult::kHeldElsewhere;
}

}  // namespace nxo::platform
