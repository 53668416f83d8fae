// POSIX implementation of the platform seam (Linux).
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "platform/platform.h"
#include "platform/wildcard.h"
#include "support/text.h"

namespace nxo::platform {

// ---- Files --------------------------------------------------------------

namespace {

// A descriptor for reading a regular file, and its size; -1 otherwise.
int OpenRegularFile(const std::string& path, std::uint64_t& size) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return -1;
  }
  size = static_cast<std::uint64_t>(info.st_size);
  return fd;
}

}  // namespace

bool MappedFile::Open(const std::string& path) {
  Close();
  std::uint64_t size = 0;
  int fd = OpenRegularFile(path, size);
  if (fd < 0) return false;
  if (size == 0) {
    ::close(fd);
    return true;
  }
  void* view = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (view == MAP_FAILED) return false;
  data_ = static_cast<const unsigned char*>(view);
  size_ = size;
  mapping_ = view;
  return true;
}

void MappedFile::ReleaseMapping(void* mapping, std::uint64_t size) {
  ::munmap(mapping, static_cast<size_t>(size));
}

RandomAccessFile::~RandomAccessFile() {
  if (handle_ != nullptr) ::close(static_cast<int>(reinterpret_cast<intptr_t>(handle_)) - 1);
}

bool RandomAccessFile::Open(const std::string& path) {
  int fd = OpenRegularFile(path, size_);
  if (fd < 0) return false;
  // Stored as fd + 1 so that descriptor 0 is not mistaken for "none".
  handle_ = reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1);
  return true;
}

bool RandomAccessFile::ReadAt(std::uint64_t offset, std::size_t length, std::string& bytes) const {
  if (handle_ == nullptr || offset > size_ || length > size_ - offset) return false;
  const int fd = static_cast<int>(reinterpret_cast<intptr_t>(handle_)) - 1;
  bytes.resize(length);
  std::size_t done = 0;
  while (done < length) {
    ssize_t got = ::pread(fd, bytes.data() + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& contents) {
  contents.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return false;
  }
  char chunk[65536];
  for (;;) {
    ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    if (got == 0) break;
    contents.append(chunk, static_cast<size_t>(got));
  }
  ::close(fd);
  return true;
}

SmallFileResult ReadSmallRegularFile(const std::string& path, std::uint64_t max_size,
                                     std::string& contents) {
  contents.clear();
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? SmallFileResult::kMissing
                                                         : SmallFileResult::kUnreadable;
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    ::close(fd);
    return SmallFileResult::kUnreadable;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return SmallFileResult::kNotRegular;
  }
  if (static_cast<std::uint64_t>(info.st_size) > max_size) {
    ::close(fd);
    return SmallFileResult::kTooLarge;
  }
  // Read to the end, but never past the cap: the size at open is only a hint
  // (files below /proc report 0, and a file may grow while it is read).
  char chunk[65536];
  for (;;) {
    ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      contents.clear();
      return SmallFileResult::kUnreadable;
    }
    if (got == 0) break;
    if (contents.size() + static_cast<std::size_t>(got) > max_size) {
      ::close(fd);
      contents.clear();
      return SmallFileResult::kTooLarge;
    }
    contents.append(chunk, static_cast<size_t>(got));
  }
  ::close(fd);
  return SmallFileResult::kRead;
}

bool IdentifyFile(const std::string& path, FileIdentity& identity) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return false;
  identity.volume = static_cast<std::uint64_t>(info.st_dev);
  identity.file = static_cast<std::uint64_t>(info.st_ino);
  return true;
}

bool Access(const std::string& path, AccessMode mode) {
  return ::access(path.c_str(), mode == AccessMode::kRead ? R_OK : F_OK) == 0;
}

std::string ModuleFileName() {
  // The link's target may be longer than PATH_MAX: grow the buffer until the
  // answer is shorter than it, so it is known to be whole.
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0) return std::string();
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      return buffer;
    }
    if (buffer.size() >= (std::size_t{1} << 24)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

bool AnsiCodePageIsUtf8() { return false; }

namespace {

bool MatchFileName(const std::string& pattern, const std::string& name) {
  // The rule of the Windows listing, with case: no character classes, and a
  // leading dot is matched like any other character.
  return MatchesNamePattern(pattern, name, false);
}

}  // namespace

bool ListDirectory(const std::string& pattern,
                   FunctionRef<bool(const DirectoryEntry&)> visit) {
  std::string::size_type slash = pattern.find_last_of('/');
  // "./" rather than ".", so that the path of each entry below is "./name".
  std::string directory = slash == std::string::npos ? "./" : pattern.substr(0, slash + 1);
  std::string name_pattern = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) return false;
  bool listed = false;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (!MatchFileName(name_pattern, name)) continue;
    DirectoryEntry item;
    item.name = name;
    struct stat info;
    std::string full = directory + name;
    item.is_directory = ::stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    listed = true;
    if (!visit(item)) break;
  }
  ::closedir(dir);
  return listed;
}

std::optional<FileStamp> StampOfFile(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  FileStamp stamp;
  stamp.size = static_cast<std::uint64_t>(info.st_size);
  stamp.modified = static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 1000000000u +
                   static_cast<std::uint64_t>(info.st_mtim.tv_nsec);
  return stamp;
}

bool CreateDirectories(const std::string& directory) {
  for (std::string::size_type slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
    const std::string part = directory.substr(0, slash);
    if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat info;
  return ::stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CreateNewFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

std::optional<std::uint64_t> FreeDiskSpace(const std::string& directory) {
  struct statvfs info;
  if (::statvfs(directory.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

// ---- Environment ----------------------------------------------------------

std::optional<std::string> GetEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool PutEnvironment(const std::string& assignment) {
  std::string::size_type equals = assignment.find('=');
  if (equals == std::string::npos || equals == 0) return false;
  std::string name = assignment.substr(0, equals);
  std::string value = assignment.substr(equals + 1);
  if (value.empty()) return ::unsetenv(name.c_str()) == 0;
  return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool PutEnvironmentUtf8(const std::string& assignment) {
  return PutEnvironment(Utf8ToAnsi(assignment));
}

// ---- Registry -----------------------------------------------------------

bool ListRegistrySubkeys(RegistryRoot, const std::string&, std::vector<std::string>&) {
  return false;
}

bool ReadRegistryValue(RegistryRoot, const std::string&, const std::string&, RegistryValue&) {
  return false;  // no registry here
}

// ---- Directories and paths ----------------------------------------------

std::string ResolveLinks(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::string();
  std::string result = resolved;
  std::free(resolved);
  return result;
}

std::string CurrentDirectory() {
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return std::string();
  return buffer;
}

bool ChangeCurrentDirectory(const std::string& path) { return ::chdir(path.c_str()) == 0; }

namespace {

// Lexical normalisation, like GetFullPathNameA: the path need not exist.
std::string NormalizeAbsolute(const std::string& path) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  while (start <= path.size()) {
    std::string::size_type end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out;
  for (const std::string& part : parts) out += "/" + part;
  if (out.empty() || (!path.empty() && path.back() == '/' && out != "/")) out += "/";
  return out;
}

}  // namespace

std::optional<std::string> FullPath(const std::string& path) {
  if (path.empty()) return std::nullopt;
  return NormalizeAbsolute(path[0] == '/' ? path : CurrentDirectory() + "/" + path);
}

char PathListSeparator() { return ':'; }

// ---- Libraries ----------------------------------------------------------

namespace {
// Per thread, as the system's own last error is. A plain buffer: a
// thread_local with a destructor would need the C++ runtime's thread-exit
// machinery. Longer messages are cut, which only shortens a report.
thread_local char last_library_error[2048];
}

LibraryHandle LoadSharedLibrary(const std::string& path) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (handle == nullptr) {
    const char* error = ::dlerror();
    const std::size_t length =
        std::string_view(error != nullptr ? error : "").copy(last_library_error, sizeof last_library_error - 1);
    last_library_error[length] = '\0';
  }
  return handle;
}

void* FindSymbol(LibraryHandle library, const char* name) { return ::dlsym(library, name); }

void FreeSharedLibrary(LibraryHandle library) {
  if (library != nullptr) ::dlclose(library);
}

std::string LastSystemErrorText() { return std::string(last_library_error); }

void SuppressErrorDialogs() {}

// ---- Command line ---------------------------------------------------------

namespace {

bool NeedsQuotes(const std::string& argument) {
  // Wildcards are quoted too: the shell has already expanded what it meant
  // to, so what is left is literal unless the launcher is told to expand all.
  return argument.empty() || argument.find_first_of(" \t\"*?") != std::string::npos;
}

// Quotes one argument so that the Windows-style splitter reads it back:
// backslashes double only where a double quote follows them.
std::string QuoteArgument(const std::string& argument) {
  if (!NeedsQuotes(argument)) return argument;
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, '\\');
  out.push_back('"');
  return out;
}

}  // namespace

std::string ProcessCommandLine() {
  std::string raw;
  if (!ReadWholeFile("/proc/self/cmdline", raw)) return std::string();
  std::string line;
  std::size_t start = 0;
  while (start < raw.size()) {
    std::size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    if (start > 0) line.push_back(' ');
    line += QuoteArgument(raw.substr(start, end - start));
    start = end + 1;
  }
  return line;
}

}  // namespace nxo::platform

// ---- Resources, messages, threads and processes ------------------------

#include <pthread.h>
#include <sys/resource.h>

#include <cstdio>

namespace nxo::platform {

bool LoadStringResource(unsigned, std::u16string&) { return false; }

void ShowWarningBox(const std::string& text, const std::string& caption, void*) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
}

namespace {

struct ThreadStart {
  ThreadProcedure procedure;
  void* argument;
  unsigned result;
};

void* ThreadTrampoline(void* raw) {
  ThreadStart* start = static_cast<ThreadStart*>(raw);
  start->result = start->procedure(start->argument);
  return nullptr;
}

// The first thread's stack limit, which the new thread gets too, so that code
// runs alike on either.
std::size_t FirstThreadStackSize() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      limit.rlim_cur >= static_cast<rlim_t>(PTHREAD_STACK_MIN))
    return static_cast<std::size_t>(limit.rlim_cur);
  return 8u << 20;
}

}  // namespace

unsigned RunOnNewThread(ThreadProcedure procedure, void* argument) {
  ThreadStart start{procedure, argument, 0};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, FirstThreadStackSize());
  pthread_t thread;
  int created = pthread_create(&thread, &attributes, ThreadTrampoline, &start);
  if (created != 0) created = pthread_create(&thread, nullptr, ThreadTrampoline, &start);
  pthread_attr_destroy(&attributes);
  if (created != 0) return procedure(argument);
  pthread_join(thread, nullptr);
  return start.result;
}

}  // namespace nxo::platform

// ---- Launch support -------------------------------------------------------

namespace nxo::platform {

std::optional<bool> ProcessIsElevated() {
  // The superuser is what an elevated process is elsewhere.
  return ::geteuid() == 0;
}

void InitCommonControls() {}

// ---- Signals and clock ------------------------------------------------------

// A signal is a flag under a mutex, with a condition variable on the
// monotonic clock so that a change of the system time cannot stretch a wait.
struct PlatformSignal {
  pthread_mutex_t lock;
  pthread_cond_t raised_changed;
  bool raised = false;
};

SignalRef CreateSignal() {
  auto* signal = new (std::nothrow) PlatformSignal;
  if (signal == nullptr) return nullptr;
  pthread_condattr_t attributes;
  ::pthread_condattr_init(&attributes);
  ::pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  const bool made = ::pthread_mutex_init(&signal->lock, nullptr) == 0 &&
                    ::pthread_cond_init(&signal->raised_changed, &attributes) == 0;
  ::pthread_condattr_destroy(&attributes);
  if (!made) {
    delete signal;
    return nullptr;
  }
  return signal;
}

void RaiseSignal(SignalRef signal) {
  ::pthread_mutex_lock(&signal->lock);
  signal->raised = true;
  ::pthread_cond_broadcast(&signal->raised_changed);
  ::pthread_mutex_unlock(&signal->lock);
}

void ResetSignal(SignalRef signal) {
  ::pthread_mutex_lock(&signal->lock);
  signal->raised = false;
  ::pthread_mutex_unlock(&signal->lock);
}

bool WaitForSignal(SignalRef signal, unsigned milliseconds) {
  timespec deadline;
  ::clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  ::pthread_mutex_lock(&signal->lock);
  int waited = 0;
  while (!signal->raised && waited == 0) {
    waited = ::pthread_cond_timedwait(&signal->raised_changed, &signal->lock, &deadline);
  }
  const bool raised = signal->raised;
  ::pthread_mutex_unlock(&signal->lock);
  return raised;
}

void DestroySignal(SignalRef signal) {
  if (signal == nullptr) return;
  // A raiser may still be leaving its critical section: once the lock has
  // been ours, nothing touches the signal any more.
  ::pthread_mutex_lock(&signal->lock);
  ::pthread_mutex_unlock(&signal->lock);
  ::pthread_cond_destroy(&signal->raised_changed);
  ::pthread_mutex_destroy(&signal->lock);
  delete signal;
}

static_assert(sizeof(pthread_mutex_t) <= 48 && alignof(pthread_mutex_t) <= 8);

namespace {
pthread_mutex_t* NativeMutex(unsigned char* storage) {
  return std::launder(reinterpret_cast<pthread_mutex_t*>(storage));
}
}  // namespace

Mutex::Mutex() { ::pthread_mutex_init(new (storage_) pthread_mutex_t, nullptr); }
Mutex::~Mutex() { ::pthread_mutex_destroy(NativeMutex(storage_)); }
void Mutex::lock() { ::pthread_mutex_lock(NativeMutex(storage_)); }
void Mutex::unlock() { ::pthread_mutex_unlock(NativeMutex(storage_)); }

namespace {

unsigned long long MonotonicMicroseconds() {
  timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<unsigned long long>(now.tv_sec) * 1000000ULL +
         static_cast<unsigned long long>(now.tv_nsec) / 1000ULL;
}

const unsigned long long microseconds_at_start = MonotonicMicroseconds();

}  // namespace

unsigned long long MicrosecondsSinceStart() { return MonotonicMicroseconds() - microseconds_at_start; }

}  // namespace nxo::platform
