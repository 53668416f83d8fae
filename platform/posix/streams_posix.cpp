// POSIX implementation of the platform seam: standard streams, piped
// commands and interrupts (Linux).
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/platform.h"

extern char** environ;

namespace nxo::platform {

namespace {

// Moves a descriptor that landed on 0, 1 or 2 (because the process started
// with one of them closed) above them, so that redirecting the standard
// streams never overwrites it. Keeps close-on-exec.
int AboveStandardDescriptors(int fd) {
  if (fd < 0 || fd > 2) return fd;
  int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  ::close(fd);
  return moved;
}

int DescriptorOf(StandardStream stream) {
  return stream == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
}

std::FILE* RuntimeStreamOf(StandardStream stream) {
  return stream == StandardStream::kOutput ? stdout : stderr;
}

// The words of a simple shell command: blanks separate words, single quotes
// keep everything, double quotes keep everything but backslash escapes of
// '"', '\\', '$' and '`', and a backslash outside quotes keeps the next
// character. Nothing is expanded.
std::vector<std::string> SplitCommandWords(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
      continue;
    }
    in_word = true;
    if (c == '\\' && i + 1 < line.size()) {
      word.push_back(line[++i]);
    } else if (c == '\'') {
      const std::size_t end = line.find('\'', i + 1);
      const std::size_t stop = end == std::string::npos ? line.size() : end;
      word.append(line, i + 1, stop - i - 1);
      i = stop;
    } else if (c == '"') {
      for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && std::strchr("\"\\$`", line[i + 1]) != nullptr)
          ++i;
        word.push_back(line[i]);
      }
    } else {
      word.push_back(c);
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

// Starts |words| with |input| as its standard input; true when it runs.
bool SpawnReadingFrom(const std::vector<std::string>& words, int input) {
  std::vector<char*> argv;
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  // Every other descriptor of the launcher is close-on-exec; these three are
  // all the command gets.
  posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  pid_t child = 0;
  // glibc reports a command that cannot be executed here, not in the child.
  const int failed = ::posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return failed == 0;
}

// The process of a copy of |executable|, started as StartDetachedCopy says.
std::optional<pid_t> SpawnCopy(const std::string& executable, const std::string& assignment,
                               const std::string& directory) {
  std::vector<char*> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) environment.push_back(*entry);
  environment.push_back(const_cast<char*>(assignment.c_str()));
  environment.push_back(nullptr);
  char* argv[] = {const_cast<char*>(executable.c_str()), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  // A session of its own: a terminal's hang-up or Ctrl+C is not meant for it.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
  pid_t child = 0;
  const int failed =
      ::posix_spawn(&child, executable.c_str(), &actions, &attributes, argv, environment.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return std::nullopt;
  return child;
}

}  // namespace

std::optional<std::int32_t> StartDetachedCopy(const std::string& executable, const std::string& assignment,
                                              const std::string& directory) {
  const std::optional<pid_t> child = SpawnCopy(executable, assignment, directory);
  if (!child) return std::nullopt;
  return static_cast<std::int32_t>(*child);
}

std::optional<int> RunCopyToEnd(const std::string& executable, const std::string& assignment,
                                const std::string& directory) {
  const std::optional<pid_t> child = SpawnCopy(executable, assignment, directory);
  if (!child) return std::nullopt;
  int status = 0;
  pid_t waited = 0;
  do {
    waited = ::waitpid(*child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited != *child || !WIFEXITED(status)) return std::nullopt;
  return WEXITSTATUS(status);
}

NativeHandle OpenAppendFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  return AboveStandardDescriptors(fd);
}

NativeHandle StartPipedCommand(const std::string& command_line) {
  const std::vector<std::string> words = SplitCommandWords(command_line);
  if (words.empty()) return kInvalidHandle;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return kInvalidHandle;
  const int read_end = AboveStandardDescriptors(ends[0]);
  const int write_end = AboveStandardDescriptors(ends[1]);
  const bool started = read_end >= 0 && write_end >= 0 && SpawnReadingFrom(words, read_end);
  // The command holds the only read end: when it ends, writes fail instead
  // of filling the pipe and blocking the application.
  if (read_end >= 0) ::close(read_end);
  if (started) return write_end;
  if (write_end >= 0) ::close(write_end);
  return kInvalidHandle;
}

bool WriteToHandle(NativeHandle handle, const void* bytes, std::size_t length) {
  const char* next = static_cast<const char*>(bytes);
  while (length > 0) {
    const ssize_t written = ::write(static_cast<int>(handle), next, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    next += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

void CloseNativeHandle(NativeHandle handle) {
  if (handle >= 0) ::close(static_cast<int>(handle));
}

NativeHandle SaveStandardStream(StandardStream stream) {
  return ::fcntl(DescriptorOf(stream), F_DUPFD_CLOEXEC, 3);
}

bool SetStandardHandle(StandardStream stream, NativeHandle handle) {
  std::fflush(RuntimeStreamOf(stream));
  return ::dup2(static_cast<int>(handle), DescriptorOf(stream)) >= 0;
}

void AttachRuntimeStream(StandardStream stream, NativeHandle, bool buffered) {
  // The runtime's stream writes to descriptor 1 or 2, which SetStandardHandle
  // points at the target; only the buffering is left to choose.
  std::FILE* runtime_stream = RuntimeStreamOf(stream);
  std::fflush(runtime_stream);
  std::setvbuf(runtime_stream, nullptr, buffered ? _IOFBF : _IONBF, buffered ? BUFSIZ : 0);
}

void RestoreStandardStream(StandardStream stream, NativeHandle saved) {
  std::fflush(RuntimeStreamOf(stream));
  if (saved >= 0) {
    ::dup2(static_cast<int>(saved), DescriptorOf(stream));
    ::close(static_cast<int>(saved));
    return;
  }
  // The stream was closed before: it goes nowhere again.
  int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (nowhere >= 0) {
    ::dup2(nowhere, DescriptorOf(stream));
    ::close(nowhere);
  }
}

// ---- Interrupts -------------------------------------------------------------

namespace {

// What each signal did before the launcher's handler, and the details of
// the signal last delivered, for a previous handler that wants them.
struct Previous {
  int signal_number;
  struct sigaction action;
  siginfo_t last_info;
};
Previous previous[] = {{kInterruptSignal, {}, {}}, {kTerminateSignal, {}, {}}};

int interrupt_pipe[2] = {-1, -1};
InterruptCallback interrupt_callback = nullptr;
std::atomic<bool> interrupts_installed{false};

Previous* PreviousFor(int signal_number) {
  for (Previous& entry : previous)
    if (entry.signal_number == signal_number) return &entry;
  return nullptr;
}

// Runs in signal context: only async-signal-safe calls. A write of at most
// PIPE_BUF bytes to a pipe is atomic, so the thread reads whole records;
// when the pipe is full the signal is dropped rather than the handler
// blocking.
void OnSignal(int signal_number, siginfo_t* info, void*) {
  const int saved_errno = errno;
  siginfo_t record;
  if (info != nullptr)
    record = *info;
  else
    std::memset(&record, 0, sizeof record);
  record.si_signo = signal_number;
  const ssize_t ignored = ::write(interrupt_pipe[1], &record, sizeof record);
  (void)ignored;
  errno = saved_errno;
}

bool ReadRecord(siginfo_t& record) {
  char* into = reinterpret_cast<char*>(&record);
  std::size_t left = sizeof record;
  while (left > 0) {
    const ssize_t got = ::read(interrupt_pipe[0], into, left);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    into += got;
    left -= static_cast<std::size_t>(got);
  }
  return true;
}

void* InterruptThread(void*) {
  siginfo_t record;
  while (ReadRecord(record)) {
    if (Previous* entry = PreviousFor(record.si_signo)) entry->last_info = record;
    interrupt_callback(record.si_signo);
  }
  return nullptr;
}

// The thread starts with every signal blocked, so no handler ever runs on
// it while it is inside the JVM.
bool StartInterruptThread() {
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int failed = pthread_create(&thread, &attributes, InterruptThread, nullptr);
  pthread_attr_destroy(&attributes);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return failed == 0;
}

}  // namespace

bool InstallInterruptHandlers(InterruptCallback callback) {
  if (interrupts_installed.exchange(true)) return true;
  interrupt_callback = callback;
  if (::pipe2(interrupt_pipe, O_CLOEXEC) != 0) return false;
  interrupt_pipe[0] = AboveStandardDescriptors(interrupt_pipe[0]);
  interrupt_pipe[1] = AboveStandardDescriptors(interrupt_pipe[1]);
  ::fcntl(interrupt_pipe[1], F_SETFL, O_NONBLOCK);
  if (!StartInterruptThread()) return false;
  struct sigaction ours;
  std::memset(&ours, 0, sizeof ours);
  ours.sa_sigaction = OnSignal;
  ours.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&ours.sa_mask);
  bool installed = true;
  for (Previous& entry : previous) {
    // A signal the process was started with ignored (a background job of a
    // script, for one) stays ignored, as the JVM itself leaves it.
    if (::sigaction(entry.signal_number, nullptr, &entry.action) != 0) {
      installed = false;
      continue;
    }
    if (!(entry.action.sa_flags & SA_SIGINFO) && entry.action.sa_handler == SIG_IGN) continue;
    installed = ::sigaction(entry.signal_number, &ours, &entry.action) == 0 && installed;
  }
  return installed;
}

void ChainPreviousInterruptHandler(int signal_number, bool libraries_unloaded) {
  Previous* entry = PreviousFor(signal_number);
  if (entry == nullptr) return;
  const struct sigaction& action = entry->action;
  if (libraries_unloaded) {
    if (!(action.sa_flags & SA_SIGINFO) && action.sa_handler == SIG_IGN) return;
    struct sigaction default_action;
    std::memset(&default_action, 0, sizeof default_action);
    default_action.sa_handler = SIG_DFL;
    ::sigaction(signal_number, &default_action, nullptr);
    // Delivered to a thread that does not block it (this one blocks all).
    ::kill(::getpid(), signal_number);
    return;
  }
  if (action.sa_flags & SA_SIGINFO) {
    if (action.sa_sigaction != nullptr) action.sa_sigaction(signal_number, &entry->last_info, nullptr);
    return;
  }
  if (action.sa_handler == SIG_DFL || action.sa_handler == SIG_IGN || action.sa_handler == SIG_ERR)
    return;
  action.sa_handler(signal_number);
}

}  // namespace nxo::platform
