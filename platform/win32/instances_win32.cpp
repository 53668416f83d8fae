// Win32 implementation of the running-instance services: the executable's
// shared section or a named page-file mapping as the region, process handles
// for identity, and unnamed group objects reached by handle duplication.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

// All processes of one executable file share this section: the linker flags
// it shared, and its 4096 zero bytes are in the file.
__attribute__((section(".SHMMESS"), shared)) unsigned char nxo_shared_section[4096] = {};

namespace nxo::platform {

namespace {

constexpr DWORD kLostPulseLimitMs = 1000;

HANDLE AsHandle(void* value) { return static_cast<HANDLE>(value); }

// Handle values travel through the table as 32-bit numbers (Windows keeps
// them below 2^32 so that 32- and 64-bit processes can exchange them).
std::int32_t HandleNumber(void* handle) {
  return static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(handle));
}

void* NumberHandle(std::int32_t value) {
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(static_cast<std::uint32_t>(value)));
}

// Kernel object names may not hold "\" or ":".
std::string ObjectName(std::string text) {
  for (char& c : text)
    if (c == '\\' || c == ':') c = '.';
  return text;
}

}  // namespace

ProcessId CurrentProcessId() { return static_cast<ProcessId>(::GetCurrentProcessId()); }

std::uint32_t ProcessLifeStamp(ProcessId id) {
  HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_DUP_HANDLE, FALSE,
                                 static_cast<DWORD>(id));
  if (process == nullptr) return 0;
  DWORD code = 0;
  const bool running = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  ::CloseHandle(process);
  return running ? 1 : 0;
}

bool ProcessStampsTellReuse() { return false; }

// ---- Shared region -----------------------------------------------------------

SharedRegion::~SharedRegion() { Close(); }

bool SharedRegion::Open(const std::string& name) {
  Close();
  std::string lock_name;
  if (name.empty()) {
    data_ = nxo_shared_section;
    lock_name = ObjectName(ModuleFileName()) + ".nxo.section.lock";
  } else {
    HANDLE mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          static_cast<DWORD>(kSize), name.c_str());
    if (mapping == nullptr) return false;
    void* view = ::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kSize);
    if (view == nullptr) {
      ::CloseHandle(mapping);
      return false;
    }
    mapping_ = mapping;
    data_ = static_cast<unsigned char*>(view);
    lock_name = ObjectName(name) + ".lock";
  }
  registration_ = ::CreateMutexA(nullptr, FALSE, lock_name.c_str());
  return true;
}

void SharedRegion::Close() {
  if (mapping_ != nullptr) {
    ::UnmapViewOfFile(data_);
    ::CloseHandle(AsHandle(mapping_));
  }
  if (registration_ != nullptr) ::CloseHandle(AsHandle(registration_));
  data_ = nullptr;
  mapping_ = nullptr;
  registration_ = nullptr;
}

void SharedRegion::LockRegistration() {
  // An abandoned mutex is acquired too: its holder died.
  if (registration_ != nullptr) ::WaitForSingleObject(AsHandle(registration_), INFINITE);
}

void SharedRegion::UnlockRegistration() {
  if (registration_ != nullptr) ::ReleaseMutex(AsHandle(registration_));
}

// ---- Process watch -------------------------------------------------------------

ProcessWatch::~ProcessWatch() { Close(); }

bool ProcessWatch::Open(ProcessId id) {
  Close();
  handle_ = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_DUP_HANDLE, FALSE,
                          static_cast<DWORD>(id));
  return handle_ != nullptr;
}

bool ProcessWatch::IsOpen() const { return handle_ != nullptr; }

bool ProcessWatch::StillActive() const {
  DWORD code = 0;
  return handle_ != nullptr && ::GetExitCodeProcess(AsHandle(handle_), &code) &&
         code == STILL_ACTIVE;
}

void ProcessWatch::Close() {
  if (handle_ != nullptr) ::CloseHandle(AsHandle(handle_));
  handle_ = nullptr;
}

// ---- Group objects -------------------------------------------------------------

GroupObjects::~GroupObjects() { Close(); }

bool GroupObjects::Create(unsigned char*) {
  HANDLE mutex = ::CreateMutexA(nullptr, FALSE, nullptr);
  HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (mutex == nullptr || event == nullptr) {
    if (mutex != nullptr) ::CloseHandle(mutex);
    if (event != nullptr) ::CloseHandle(event);
    return false;
  }
  Close();
  mutex_ = mutex;
  event_ = event;
  return true;
}

namespace {

void* DuplicateFromOwner(const void* owner_process, std::int32_t value) {
  if (owner_process == nullptr || value == 0) return nullptr;
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(static_cast<HANDLE>(const_cast<void*>(owner_process)),
                         AsHandle(NumberHandle(value)), ::GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
    return nullptr;
  return copy;
}

}  // namespace

bool GroupObjects::AdoptMutex(const ProcessWatch& owner, std::int32_t value, unsigned char*) {
  mutex_ = DuplicateFromOwner(owner.handle_, value);
  return mutex_ != nullptr;
}

bool GroupObjects::AdoptEvent(const ProcessWatch& owner, std::int32_t value) {
  event_ = DuplicateFromOwner(owner.handle_, value);
  return event_ != nullptr;
}

std::int32_t GroupObjects::MutexValue() const { return HandleNumber(mutex_); }
std::int32_t GroupObjects::EventValue() const { return HandleNumber(event_); }

void GroupObjects::Lock() {
  // WAIT_ABANDONED also hands the mutex over: its holder died.
  if (mutex_ != nullptr) ::WaitForSingleObject(AsHandle(mutex_), INFINITE);
}

void GroupObjects::Unlock() {
  if (mutex_ != nullptr) ::ReleaseMutex(AsHandle(mutex_));
}

void GroupObjects::Pulse(std::int32_t* pulse_count) {
  // The count first: a thread that looks at it after this need not wait.
  *static_cast<volatile std::int32_t*>(pulse_count) =
      *static_cast<volatile std::int32_t*>(pulse_count) + 1;
  if (event_ != nullptr) ::PulseEvent(AsHandle(event_));
}

void GroupObjects::WaitForPulse(std::int32_t* pulse_count, std::int32_t last_seen,
                                ProcessWatch* owner) {
  if (*static_cast<volatile std::int32_t*>(pulse_count) != last_seen) return;
  HANDLE objects[2];
  DWORD count = 0;
  if (event_ != nullptr) objects[count++] = AsHandle(event_);
  if (owner != nullptr && owner->handle_ != nullptr) objects[count++] = AsHandle(owner->handle_);
  if (count == 0) {
    // Without group objects nothing can wake this thread; look again later.
    ::Sleep(100);
    return;
  }
  // PulseEvent releases only the threads already waiting: a pulse between
  // the look at the count and the wait is lost. The wait is therefore
  // capped, so that such a loss costs at most this long.
  ::WaitForMultipleObjects(count, objects, FALSE, kLostPulseLimitMs);
}

void GroupObjects::Close() {
  if (mutex_ != nullptr) ::CloseHandle(AsHandle(mutex_));
  if (event_ != nullptr) ::CloseHandle(AsHandle(event_));
  mutex_ = nullptr;
  event_ = nullptr;
}

// ---- Single-instance lock ----------------------------------------------------

SingleInstanceResult AcquireSingleInstanceLock(const std::string& name, int& error) {
  HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) {
    error = static_cast<int>(::GetLastError());
    return SingleInstanceResult::kFailed;
  }
  // The handle stays open and the mutex owned until the process ends.
  if (::WaitForSingleObject(mutex, 100) == WAIT_TIMEOUT) {
    ::CloseHandle(mutex);
    return SingleInstanceResult::kHeldElsewhere;
  }
  return SingleInstanceResult::kAcquired;
}

}  // namespace nxo::platform
