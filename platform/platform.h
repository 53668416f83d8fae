// The one seam between the launcher and the operating system.
//
// Core code calls only what is declared here; platform/win32 and
// platform/posix each implement every function under the same name. Text is
// narrow: the ANSI code page on Windows, the C locale's encoding elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/function_ref.h"

namespace nxo::platform {

// ---- Files --------------------------------------------------------------

// A whole file mapped read-only. The mapping is released with the object.
class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Opens |path| for reading (sharing read and write) and maps all of it.
  // An empty file maps to no bytes and still succeeds.
  bool Open(const std::string& path);
  void Close();

  const unsigned char* Data() const { return data_; }
  std::uint64_t Size() const { return size_; }

 private:
  // Unmaps what Open mapped; each platform file defines it.
  static void ReleaseMapping(void* mapping, std::uint64_t size);

  const unsigned char* data_ = nullptr;
  std::uint64_t size_ = 0;
  void* mapping_ = nullptr;  // platform-specific bookkeeping
};

// A file opened for reading at any offset (sharing read and write), for
// readers that need a few pieces of a large file.
class RandomAccessFile {
 public:
  RandomAccessFile() = default;
  ~RandomAccessFile();
  RandomAccessFile(const RandomAccessFile&) = delete;
  RandomAccessFile& operator=(const RandomAccessFile&) = delete;

  bool Open(const std::string& path);
  std::uint64_t Size() const { return size_; }
  // Reads exactly |length| bytes at |offset|; false when they are not all there.
  bool ReadAt(std::uint64_t offset, std::size_t length, std::string& bytes) const;

 private:
  void* handle_ = nullptr;  // platform-specific
  std::uint64_t size_ = 0;
};

// Reads a whole file (opened sharing read and write). False when it cannot be
// opened or read.
bool ReadWholeFile(const std::string& path, std::string& contents);

// Reads a regular file of at most |max_size| bytes. Anything else (a
// directory, a device, a pipe, a socket) is refused without waiting for it,
// and a file that grows past the cap while it is read is refused too.
enum class SmallFileResult { kRead, kMissing, kNotRegular, kTooLarge, kUnreadable };
SmallFileResult ReadSmallRegularFile(const std::string& path, std::uint64_t max_size,
                                     std::string& contents);

// Who a file or directory is on its volume: device and inode, or volume
// serial number and file index. Two paths that reach the same directory
// through links give the same identity.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t file = 0;
  bool operator<(const FileIdentity& other) const {
    return volume != other.volume ? volume < other.volume : file < other.file;
  }
};
// False when the path cannot be opened or asked.
bool IdentifyFile(const std::string& path, FileIdentity& identity);

enum class AccessMode { kExists = 0, kRead = 4 };

// The C runtime's access test.
bool Access(const std::string& path, AccessMode mode);

// The running executable's full path (the module file name).
std::string ModuleFileName();

// True when the process's ANSI code page is UTF-8, which the C runtime's
// locale cannot express (Windows with a UTF-8 activeCodePage manifest). On
// POSIX the C library's multibyte functions follow the locale, UTF-8 or not.
bool AnsiCodePageIsUtf8();

struct DirectoryEntry {
  std::string name;
  bool is_directory = false;
};

// Lists the entries that match |pattern|: a directory part followed by a last
// component that may hold "*" and "?". Entries come in the platform's listing
// order, "." and ".." included where the platform lists them. |visit| returns
// false to stop. Returns false when nothing could be listed.
bool ListDirectory(const std::string& pattern,
                   FunctionRef<bool(const DirectoryEntry&)> visit);

// Size and last-write time of a file, as the system reports them; the time
// is in the system's own units and only compared for equality.
struct FileStamp {
  std::uint64_t size = 0;
  std::uint64_t modified = 0;
};

// The stamp of the regular file |path|; nothing when there is none.
std::optional<FileStamp> StampOfFile(const std::string& path);

// Creates |directory| and any missing parent, readable and writable by the
// user only where the system knows such rights. True when it exists after.
bool CreateDirectories(const std::string& directory);

// Creates the empty file |path|, failing when it already exists or cannot
// be made (exclusive creation: two processes never both succeed).
bool CreateNewFile(const std::string& path);

// Renames |from| to |to|, replacing a file that |to| names, in one step
// where the system offers it. False when the file stays where it was.
bool RenameFile(const std::string& from, const std::string& to);

// Removes the file |path|; false when it is still there (missing counts as
// removed).
bool RemoveFile(const std::string& path);

// Bytes the calling user may still write on the volume that holds
// |directory|; nothing when the system cannot tell.
std::optional<std::uint64_t> FreeDiskSpace(const std::string& directory);

// ---- Environment ----------------------------------------------------------

std::optional<std::string> GetEnvironment(const std::string& name);

// Puts "NAME=value" into the environment as the C runtime's _putenv does: the
// runtime's copy and the process environment both change, and "NAME=" removes
// the variable.
bool PutEnvironment(const std::string& assignment);

// The same for an assignment in UTF-8: through the wide environment on
// Windows, so that no character is lost to the ANSI code page (the runtime
// reads the wide one), in the locale's encoding elsewhere.
bool PutEnvironmentUtf8(const std::string& assignment);

// ---- Registry -----------------------------------------------------------

enum class RegistryRoot { kClassesRoot, kCurrentUser, kLocalMachine, kUsers, kCurrentConfig };

// The kinds of registry value the launcher reads; every other kind is kOther.
enum class RegistryType { kString, kExpandString, kBinary, kDword, kDwordBigEndian, kOther };

struct RegistryValue {
  RegistryType type = RegistryType::kOther;
  std::vector<unsigned char> data;
};

// Reads one value ("" names the key's default value) with read access. False
// when the key cannot be opened or the value cannot be read, and always on
// platforms without a registry.
bool ReadRegistryValue(RegistryRoot root, const std::string& subkey, const std::string& value_name,
                       RegistryValue& value);

// Lists the names of the subkeys of one key, opened with read access in the
// process's own registry view, in the order the registry gives them. False
// when the key cannot be opened, and always without a registry.
bool ListRegistrySubkeys(RegistryRoot root, const std::string& subkey,
                         std::vector<std::string>& names);

// ---- Directories and paths ----------------------------------------------

// |path| with every link resolved (symbolic links, and so on Linux the chain
// through /etc/alternatives); empty when the path cannot be resolved.
std::string ResolveLinks(const std::string& path);

// The process's current directory (up to 260 bytes on Windows).
std::string CurrentDirectory();
bool ChangeCurrentDirectory(const std::string& path);

// |path| made full against the current directory, with "." and ".." steps
// resolved as text (the path need not exist); nothing when the system cannot
// make it full.
std::optional<std::string> FullPath(const std::string& path);

// The platform's separator between class-path entries.
char PathListSeparator();

// ---- Libraries ----------------------------------------------------------

using LibraryHandle = void*;

LibraryHandle LoadSharedLibrary(const std::string& path);
void* FindSymbol(LibraryHandle library, const char* name);
void FreeSharedLibrary(LibraryHandle library);

// The system's text for the last library or system error, with "%1"
// replaced by |insert|; empty when the system has none.
std::string LastErrorText(const std::string& insert);

// Keeps the system from asking the user about a missing disk or an
// unopenable file while libraries load; nothing where it never asks.
void SuppressErrorDialogs();

// ---- Command line ---------------------------------------------------------

// The process's command line as one text, the program name first. On Windows
// GetCommandLineA; elsewhere the arguments are joined and quoted so that the
// launcher's splitter gives every argument back unchanged.
std::string ProcessCommandLine();

// ---- Resources, messages, threads and processes ------------------------

// The string with |id| from the executable's own English string table, as
// wide text. False when the platform has no such resources or the string is
// missing.
bool LoadStringResource(unsigned id, std::u16string& text);

// Shows a warning box in front of every window, owned by |owner| or by no
// window, and returns when it has been dismissed. Where there are no message
// boxes the text goes to standard error as "caption: text".
void ShowWarningBox(const std::string& text, const std::string& caption, void* owner);

// Runs |procedure| on a new thread whose stack is the size the first thread
// gets, waits for it without a limit and returns its result. When no thread
// can be created the procedure runs on the calling thread.
using ThreadProcedure = unsigned (*)(void* argument);
unsigned RunOnNewThread(ThreadProcedure procedure, void* argument);

// ---- Standard streams, piped commands and interrupts ---------------------

// A file or pipe as the system knows it: a HANDLE on Windows, a descriptor
// elsewhere. Wide enough for either, so Java code can hold one in a long.
using NativeHandle = std::intptr_t;
inline constexpr NativeHandle kInvalidHandle = -1;

enum class StandardStream { kOutput, kError };

// Opens |path| for writing at its end: created if missing, never truncated,
// every write appended even when others write to the file too. Not
// inherited by commands the launcher starts. Invalid on failure (a
// directory, no permission, a missing parent).
NativeHandle OpenAppendFile(const std::string& path);

// Starts |command_line| with its standard input fed from a new pipe and
// returns the pipe's write end, which only the launcher holds; invalid when
// the pipe cannot be made or the command cannot be started. The command
// gets nothing else of the launcher's: no console window and no other handle
// on Windows (an explicit inheritance list); on POSIX the command line is
// split like a shell's simple command (blanks, quotes, backslashes; no
// expansions), found through PATH, given /dev/null as its output and error,
// and put in a process group of its own, so that a terminal's Ctrl+C ends
// the application and leaves the command to read what is left.
NativeHandle StartPipedCommand(const std::string& command_line);

// Starts |executable| again, without arguments, as a process that outlives
// this one: in |directory| (empty: this process's), |assignment|
// ("NAME=value") added to the environment it inherits, the null device as
// its standard streams, no console window, and no handle or descriptor of
// this process. On Windows it also runs below normal priority. Its process
// id; none when it could not be started.
std::optional<std::int32_t> StartDetachedCopy(const std::string& executable, const std::string& assignment,
                                              const std::string& directory);

// Runs |executable| as StartDetachedCopy starts it, and waits for it to end:
// its exit code; none when it could not be started or did not end by itself
// (a signal ended it).
std::optional<int> RunCopyToEnd(const std::string& executable, const std::string& assignment,
                                const std::string& directory);

// Writes all of |length| bytes; false when the system refused some.
bool WriteToHandle(NativeHandle handle, const void* bytes, std::size_t length);
void CloseNativeHandle(NativeHandle handle);

// A copy of what the process uses as |stream| now, kept so that it can be
// given back with RestoreStandardStream: a duplicate of the handle or
// descriptor, which lives on when the C runtime closes its own. Invalid when
// the stream is closed.
NativeHandle SaveStandardStream(StandardStream stream);

// Makes the C runtime's stdout or stderr write to |handle| (unbuffered
// unless |buffered|). Doing so may close the handle the runtime held for
// the stream and change what the system reports as the standard handle, so
// SetStandardHandle follows it.
void AttachRuntimeStream(StandardStream stream, NativeHandle handle, bool buffered);

// Makes |handle| the process's |stream| for the system, which started
// processes and the JVM inherit. True when the system reports |handle| as
// the stream afterwards; false means writes through the system's standard
// handle do not reach |handle|.
bool SetStandardHandle(StandardStream stream, NativeHandle handle);

// Gives |stream| back the handle SaveStandardStream returned, which the
// stream then owns.
void RestoreStandardStream(StandardStream stream, NativeHandle saved);

// The console interrupt (SIGINT) and the termination request (SIGTERM).
inline constexpr int kInterruptSignal = 2;
inline constexpr int kTerminateSignal = 15;

// Runs outside any signal handler, on a thread that may call into the JVM.
using InterruptCallback = void (*)(int signal_number);

// Installs the launcher's handler for SIGINT, then for SIGTERM, keeping
// the handler each had before. |callback| runs for each signal: on Windows
// on the thread the C runtime delivers console interrupts on; on POSIX a
// signal handler may only do async-signal-safe work, so the handler writes
// the signal into a pipe and a thread of the launcher runs |callback|; a
// signal the process inherited as ignored stays ignored there. False when
// the handlers could not be installed. Installs at most once.
bool InstallInterruptHandlers(InterruptCallback callback);

// Calls the handler that |signal_number| had before the launcher's, when
// that was a function (not the default action, ignore, or an error value).
// With |libraries_unloaded| that function may live in a library that is gone
// (the JVM's own handler, after the runtime was unloaded), so it is not
// called: on POSIX the signal then takes its default action, which ends the
// process as the sender asked; on Windows nothing more happens.
void ChainPreviousInterruptHandler(int signal_number, bool libraries_unloaded);

// ---- Threads and resources -------------------------------------------------

// Starts |procedure| on a new thread of the C runtime (default stack size)
// and returns without waiting for it. False when no thread could be started.
bool StartDetachedThread(ThreadProcedure procedure, void* argument);

// Lowers the calling thread's priority to the lowest of its class.
void LowerThreadPriority();

// Gives up the rest of the calling thread's time slice (a zero-length sleep).
void YieldToOtherThreads();

// A signal that one thread raises and others wait for, each with a time
// limit; it stays raised until reset. Null when the system has none left to
// give.
using SignalRef = struct PlatformSignal*;
SignalRef CreateSignal();
void RaiseSignal(SignalRef signal);
void ResetSignal(SignalRef signal);
// True once the signal is raised; false when |milliseconds| passed first.
bool WaitForSignal(SignalRef signal, unsigned milliseconds);
void DestroySignal(SignalRef signal);

// A lock between this process's threads for short sections; not recursive.
// In place of std::mutex, which MinGW's libstdc++ builds on its pthreads
// emulation (linked whole into the Windows stubs); the lower-case lock and
// unlock let std::lock_guard hold it. The system's lock lives in the
// object's own storage, so a Mutex needs no allocation and cannot fail.
class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock();
  void unlock();

 private:
  alignas(8) unsigned char storage_[48];
};

// Microseconds since the process's static initialisation, from a clock that
// never goes back.
unsigned long long MicrosecondsSinceStart();

// The bytes of the executable's raw-data resource (RT_RCDATA) |id|, which
// stay mapped for the life of the process. False where there is none, and
// always on platforms without resources.
bool FindDataResource(unsigned id, const unsigned char*& data, std::size_t& size);

// ---- Splash window ----------------------------------------------------------
//
// The launcher's own splash: a borderless window centred on the primary
// screen that shows one picture. It belongs to the thread that opens it,
// which then runs its event loop; other threads reach it only through the
// requests below, which are handed to that thread (a timer set from another
// thread would not belong to the window's thread).

using SplashPicture = void*;
using SplashWindowRef = void*;

// The executable's bitmap resource |id|; null where there is none, and always
// on platforms without resources.
SplashPicture LoadBitmapResource(unsigned id);

// A picture of |width| x |height| pixels, rows from the top, each pixel
// 0x00RRGGBB. Null when it cannot be made.
SplashPicture MakeSplashPicture(int width, int height, const std::uint32_t* pixels);
void FreeSplashPicture(SplashPicture picture);

// Creates the window on the calling thread, sized to the picture and placed
// at ((screen width - width) / 2, (screen height - height) / 2) in signed
// division, shows it and paints it once. An empty |title| gives a tool
// window that stays off the taskbar; a title gives a taskbar entry with it.
// Null when there is no screen or the window cannot be made.
SplashWindowRef OpenSplashWindow(SplashPicture picture, const std::string& title);

// Runs the window's event loop on the thread that opened it until the window
// is closed: by its timer, a key press, or a close request. Mouse clicks and
// system keys do nothing.
void RunSplashWindow(SplashWindowRef window);

// Frees what the closed window still holds, once no thread can reach it.
void ReleaseSplashWindow(SplashWindowRef window);

// The system's handle of the window, as owner for message boxes.
void* SplashWindowSystemHandle(SplashWindowRef window);

// From any thread: cancels the window's close timer and, for a delay of 0 or
// more, starts it with that many milliseconds.
void ForwardSplashTimer(SplashWindowRef window, int milliseconds);

// From any thread: asks the window to close.
void PostSplashClose(SplashWindowRef window);

// ---- Launch support -------------------------------------------------------

// Whether the process runs with raised rights (an elevated token on Windows,
// the superuser elsewhere); nothing when the test cannot be made.
std::optional<bool> ProcessIsElevated();

// Initialises the common-controls library where there is one.
void InitCommonControls();

// ---- Running instances ------------------------------------------------------

// The system's number for a process (a Windows process id, a Linux pid).
using ProcessId = std::int32_t;

ProcessId CurrentProcessId();

// 0 when no running process has |id|. Otherwise a number that stays the same
// for the life of that process; where ids are reused unnoticed it also tells
// a later process with the same id apart (Linux: the start time).
std::uint32_t ProcessLifeStamp(ProcessId id);

// Whether ProcessLifeStamp tells a reused id apart, so that stamps are worth
// keeping beside the ids (false on Windows, where every live process gets 1).
bool ProcessStampsTellReuse();

// The 4096 bytes of memory that the running instances of one application
// share. Mapped until Close or destruction.
class SharedRegion {
 public:
  static constexpr std::size_t kSize = 4096;

  SharedRegion() = default;
  ~SharedRegion();
  SharedRegion(const SharedRegion&) = delete;
  SharedRegion& operator=(const SharedRegion&) = delete;

  // Creates, or opens when another process already made it, the region
  // called |name| (zero-filled when new). An empty name gives the running
  // executable's own region: its shared data section on Windows, elsewhere
  // an object named after the executable file's device and inode.
  bool Open(const std::string& name);
  void Close();
  unsigned char* Data() const { return data_; }

  // Serialises table updates among all processes sharing the region, and
  // among the threads of this one. A holder that dies releases it.
  void LockRegistration();
  void UnlockRegistration();

 private:
  unsigned char* data_ = nullptr;
  // The mapping handle on Windows; POSIX keeps none once the view is mapped.
  [[maybe_unused]] void* mapping_ = nullptr;
  void* registration_ = nullptr;  // platform-specific bookkeeping
};

// A handle on another process that tells whether it is still running (and,
// where the system allows, wakes the group when it ends).
class ProcessWatch {
 public:
  ProcessWatch() = default;
  ~ProcessWatch();
  ProcessWatch(const ProcessWatch&) = delete;
  ProcessWatch& operator=(const ProcessWatch&) = delete;

  bool Open(ProcessId id);
  bool IsOpen() const;
  // True while the process runs (its exit code still reads STILL_ACTIVE).
  bool StillActive() const;
  void Close();

 private:
  friend class GroupObjects;
  void* handle_ = nullptr;  // platform-specific
};

// This process's hold on the group mutex and the group event of the running
// instances. Windows: unnamed objects made by the first owner and reached by
// handle duplication from the owner's process. Elsewhere: a process-shared
// robust mutex kept in |storage| of the shared region, and a futex on the
// group's pulse counter; the owner's end wakes the waiters too.
class GroupObjects {
 public:
  // Bytes of the shared region that the objects may need.
  static constexpr std::size_t kStorageSize = 64;

  GroupObjects() = default;
  ~GroupObjects();
  GroupObjects(const GroupObjects&) = delete;
  GroupObjects& operator=(const GroupObjects&) = delete;

  // Makes new objects, as the group's first owner. |storage| is
  // kStorageSize bytes of the shared region, 8-byte aligned.
  bool Create(unsigned char* storage);
  // Takes a hold on the objects that the owner published as these values.
  bool AdoptMutex(const ProcessWatch& owner, std::int32_t value, unsigned char* storage);
  bool AdoptEvent(const ProcessWatch& owner, std::int32_t value);
  bool HoldsMutex() const { return mutex_ != nullptr; }
  bool HoldsEvent() const { return event_ != nullptr; }
  // The values that this process publishes when it owns the group.
  std::int32_t MutexValue() const;
  std::int32_t EventValue() const;

  // Waits without limit for the group mutex; an owner that died holding it
  // hands it over. Unlock releases it.
  void Lock();
  void Unlock();

  // Releases the processes waiting at this moment and counts the pulse.
  void Pulse(std::int32_t* pulse_count);
  // Waits until |*pulse_count| differs from |last_seen| (returns at once
  // when it does already), or until |owner|, when open, ends.
  void WaitForPulse(std::int32_t* pulse_count, std::int32_t last_seen, ProcessWatch* owner);

  void Close();

 private:
  void* mutex_ = nullptr;  // platform-specific
  void* event_ = nullptr;  // platform-specific
};

enum class SingleInstanceResult { kAcquired, kHeldElsewhere, kFailed };

// Takes the lock called |name| that only one process at a time can hold,
// waiting up to 100 ms for it. The holder keeps it until it ends; the
// system releases it then, whatever way the process ends. |error| receives
// the system's error code on kFailed.
SingleInstanceResult AcquireSingleInstanceLock(const std::string& name, int& error);

}  // namespace nxo::platform
