// Win32 implementation of the platform seam: standard streams, piped
// commands and interrupts.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace nxo::platform {

namespace {

HANDLE AsHandle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }
NativeHandle FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<NativeHandle>(handle);
}

DWORD StandardHandleId(StandardStream stream) {
  return stream == StandardStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
}

std::FILE* RuntimeStreamOf(StandardStream stream) {
  return stream == StandardStream::kOutput ? stdout : stderr;
}

// The attribute-list calls, looked up at run time: systems before Vista do
// not have them, and importing them would stop the launcher from starting
// there at all.
struct AttributeListCalls {
  decltype(&::InitializeProcThreadAttributeList) initialize = nullptr;
  decltype(&::UpdateProcThreadAttribute) update = nullptr;
  decltype(&::DeleteProcThreadAttributeList) remove = nullptr;
};

AttributeListCalls FindAttributeListCalls() {
  AttributeListCalls calls;
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return calls;
  calls.initialize = reinterpret_cast<decltype(calls.initialize)>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "InitializeProcThreadAttributeList")));
  calls.update = reinterpret_cast<decltype(calls.update)>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "UpdateProcThreadAttribute")));
  calls.remove = reinterpret_cast<decltype(calls.remove)>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "DeleteProcThreadAttributeList")));
  return calls;
}

// Starts |command_line| with |input| as its standard input and nothing else
// inherited: the attribute list names the one handle the child may inherit,
// so other inheritable handles of the process (the JVM's, a library's) stay
// out of it.
bool CreateProcessReadingFrom(const std::string& command_line, HANDLE input) {
  const AttributeListCalls calls = FindAttributeListCalls();
  SIZE_T list_size = 0;
  std::vector<unsigned char> list_memory;
  LPPROC_THREAD_ATTRIBUTE_LIST attributes = nullptr;
  HANDLE inherited[] = {input};
  if (calls.initialize != nullptr && calls.update != nullptr && calls.remove != nullptr) {
    calls.initialize(nullptr, 1, 0, &list_size);
    list_memory.resize(list_size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_memory.data());
    if (calls.initialize(list, 1, 0, &list_size)) {
      if (calls.update(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof inherited, nullptr,
                       nullptr))
        attributes = list;
      else
        calls.remove(list);
    }
  }
  const bool listed = attributes != nullptr;
  // Without the list (a system older than the attribute) the read end is
  // the only handle the launcher itself has made inheritable so far.
  STARTUPINFOEXA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.StartupInfo.cb = listed ? sizeof startup : sizeof startup.StartupInfo;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.StartupInfo.hStdInput = input;
  startup.StartupInfo.hStdOutput = nullptr;
  startup.StartupInfo.hStdError = nullptr;
  startup.lpAttributeList = attributes;
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');
  PROCESS_INFORMATION process;
  const DWORD flags = CREATE_NO_WINDOW | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0);
  const bool started = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr,
                                        nullptr, &startup.StartupInfo, &process);
  if (listed) calls.remove(attributes);
  if (!started) return false;
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return true;
}

// A copy of |executable|, started as StartDetachedCopy says; the caller
// closes |process|'s handles.
bool CreateCopy(const std::string& executable, const std::string& assignment, const std::string& directory,
                PROCESS_INFORMATION& process) {
  const std::size_t equals = assignment.find('=');
  if (equals == std::string::npos) return false;
  // The copy inherits the environment as it is at its creation; this process
  // gets its own back after.
  const std::string name = assignment.substr(0, equals);
  const char* previous = ::getenv(name.c_str());
  const std::string restore = name + "=" + (previous != nullptr ? previous : "");
  if (::_putenv(assignment.c_str()) != 0) return false;
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  std::string line = "\"" + executable + "\"";
  const DWORD flags = DETACHED_PROCESS | BELOW_NORMAL_PRIORITY_CLASS;
  const bool started = ::CreateProcessA(executable.c_str(), line.data(), nullptr, nullptr, FALSE, flags,
                                        nullptr, directory.empty() ? nullptr : directory.c_str(), &startup,
                                        &process);
  ::_putenv(restore.c_str());
  return started;
}

}  // namespace

NativeHandle OpenAppendFile(const std::string& path) {
  // Append-only access: the system puts every write at the end of the file,
  // even when other processes write to it too.
  HANDLE file = ::CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  return FromHandle(file);
}

std::optional<std::int32_t> StartDetachedCopy(const std::string& executable, const std::string& assignment,
                                              const std::string& directory) {
  PROCESS_INFORMATION process;
  if (!CreateCopy(executable, assignment, directory, process)) return std::nullopt;
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return static_cast<std::int32_t>(process.dwProcessId);
}

std::optional<int> RunCopyToEnd(const std::string& executable, const std::string& assignment,
                                const std::string& directory) {
  PROCESS_INFORMATION process;
  if (!CreateCopy(executable, assignment, directory, process)) return std::nullopt;
  ::CloseHandle(process.hThread);
  DWORD code = STILL_ACTIVE;
  const bool ended = ::WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                     ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hProcess);
  if (!ended) return std::nullopt;
  return static_cast<int>(code);
}

NativeHandle StartPipedCommand(const std::string& command_line) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE inheritable_write_end = nullptr;
  if (!::CreatePipe(&read_end, &inheritable_write_end, &inheritable, 0)) return kInvalidHandle;
  HANDLE write_end = nullptr;
  HANDLE self = ::GetCurrentProcess();
  const bool duplicated = ::DuplicateHandle(self, inheritable_write_end, self, &write_end, 0, FALSE,
                                            DUPLICATE_SAME_ACCESS);
  ::CloseHandle(inheritable_write_end);
  const bool started = duplicated && CreateProcessReadingFrom(command_line, read_end);
  // The command holds the only read end: when it ends, writes fail instead
  // of filling the pipe and blocking the application.
  ::CloseHandle(read_end);
  if (started) return FromHandle(write_end);
  if (duplicated) ::CloseHandle(write_end);
  return kInvalidHandle;
}

bool WriteToHandle(NativeHandle handle, const void* bytes, std::size_t length) {
  const char* next = static_cast<const char*>(bytes);
  while (length > 0) {
    DWORD written = 0;
    const DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
    if (!::WriteFile(AsHandle(handle), next, chunk, &written, nullptr) || written == 0) return false;
    next += written;
    length -= written;
  }
  return true;
}

void CloseNativeHandle(NativeHandle handle) {
  if (handle != kInvalidHandle && handle != 0) ::CloseHandle(AsHandle(handle));
}

NativeHandle SaveStandardStream(StandardStream stream) {
  HANDLE current = ::GetStdHandle(StandardHandleId(stream));
  HANDLE self = ::GetCurrentProcess();
  HANDLE copy = nullptr;
  if (current == nullptr || current == INVALID_HANDLE_VALUE ||
      !::DuplicateHandle(self, current, self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return kInvalidHandle;
  return FromHandle(copy);
}

bool SetStandardHandle(StandardStream stream, NativeHandle handle) {
  ::SetStdHandle(StandardHandleId(stream), AsHandle(handle));
  return ::GetStdHandle(StandardHandleId(stream)) == AsHandle(handle);
}

void AttachRuntimeStream(StandardStream stream, NativeHandle handle, bool buffered) {
  // The runtime's stream gets a descriptor of its own on a duplicate of the
  // handle, placed where the stream writes; a windowed program's stream may
  // have no descriptor yet, so it is opened on the null device first.
  // Placing it closes the handle the runtime held there (the inherited
  // standard handle itself), and some runtimes set the system's standard
  // handle too: the caller sets that afterwards.
  std::FILE* runtime_stream = RuntimeStreamOf(stream);
  std::fflush(runtime_stream);
  HANDLE self = ::GetCurrentProcess();
  HANDLE duplicate = nullptr;
  if (!::DuplicateHandle(self, AsHandle(handle), self, &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return;
  const int descriptor = ::_open_osfhandle(reinterpret_cast<intptr_t>(duplicate), _O_APPEND | _O_TEXT);
  if (descriptor < 0) {
    ::CloseHandle(duplicate);
    return;
  }
  if (::_fileno(runtime_stream) < 0) std::freopen("NUL", "a", runtime_stream);
  if (::_fileno(runtime_stream) >= 0) ::_dup2(descriptor, ::_fileno(runtime_stream));
  ::_close(descriptor);
  std::setvbuf(runtime_stream, nullptr, buffered ? _IOFBF : _IONBF, buffered ? BUFSIZ : 0);
}

void RestoreStandardStream(StandardStream stream, NativeHandle saved) {
  std::fflush(RuntimeStreamOf(stream));
  ::SetStdHandle(StandardHandleId(stream), saved == kInvalidHandle ? nullptr : AsHandle(saved));
}

// ---- Interrupts -------------------------------------------------------------

namespace {

using SignalHandler = void (*)(int);

SignalHandler previous_interrupt = SIG_DFL;
SignalHandler previous_terminate = SIG_DFL;
InterruptCallback interrupt_callback = nullptr;
bool interrupts_installed = false;

// The C runtime calls this on the thread the system creates for a console
// control event (or on the raising thread for raise), never inside an
// asynchronous signal, so the callback may call into the JVM directly.
void __cdecl OnSignal(int signal_number) { interrupt_callback(signal_number); }

}  // namespace

bool InstallInterruptHandlers(InterruptCallback callback) {
  if (interrupts_installed) return true;
  interrupts_installed = true;
  interrupt_callback = callback;
  previous_interrupt = std::signal(SIGINT, OnSignal);
  previous_terminate = std::signal(SIGTERM, OnSignal);
  return previous_interrupt != SIG_ERR && previous_terminate != SIG_ERR;
}

void ChainPreviousInterruptHandler(int signal_number, bool libraries_unloaded) {
  if (libraries_unloaded) return;
  SignalHandler handler = signal_number == kInterruptSignal   ? previous_interrupt
                          : signal_number == kTerminateSignal ? previous_terminate
                                                              : SIG_DFL;
  // The runtime's special values: default, ignore, its three internal
  // markers and the error value are not functions.
  const intptr_t value = reinterpret_cast<intptr_t>(handler);
  if ((value >= 0 && value <= 4) || value == -1) return;
  handler(signal_number);
}

}  // namespace nxo::platform
