// Win32 implementation of the platform seam.
#include <windows.h>
#include <io.h>
#include <stdlib.h>

#include <cctype>
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "platform/wildcard.h"
#include "support/text.h"

namespace nxo::platform {

// ---- Files --------------------------------------------------------------

namespace {

HANDLE OpenForReading(const std::string& path) {
  return ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A handle for reading the file, and its size; INVALID_HANDLE_VALUE otherwise.
HANDLE OpenWithSize(const std::string& path, std::uint64_t& size) {
  HANDLE file = OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE) return file;
  LARGE_INTEGER length;
  if (!::GetFileSizeEx(file, &length)) {
    ::CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  size = static_cast<std::uint64_t>(length.QuadPart);
  return file;
}

}  // namespace

bool MappedFile::Open(const std::string& path) {
  Close();
  std::uint64_t size = 0;
  HANDLE file = OpenWithSize(path, size);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (size == 0) {
    ::CloseHandle(file);
    return true;
  }
  HANDLE mapping = ::CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  ::CloseHandle(file);
  if (mapping == nullptr) return false;
  void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  ::CloseHandle(mapping);
  if (view == nullptr) return false;
  data_ = static_cast<const unsigned char*>(view);
  size_ = size;
  mapping_ = view;
  return true;
}

void MappedFile::ReleaseMapping(void* mapping, std::uint64_t) { ::UnmapViewOfFile(mapping); }

RandomAccessFile::~RandomAccessFile() {
  if (handle_ != nullptr) ::CloseHandle(handle_);
}

bool RandomAccessFile::Open(const std::string& path) {
  HANDLE file = OpenWithSize(path, size_);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = file;
  return true;
}

bool RandomAccessFile::ReadAt(std::uint64_t offset, std::size_t length, std::string& bytes) const {
  if (handle_ == nullptr || offset > size_ || length > size_ - offset) return false;
  bytes.resize(length);
  std::size_t done = 0;
  while (done < length) {
    OVERLAPPED at{};
    const std::uint64_t position = offset + done;
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(length - done < (1u << 30) ? length - done : (1u << 30));
    if (!::ReadFile(handle_, bytes.data() + done, want, &got, &at) || got == 0) return false;
    done += got;
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& contents) {
  contents.clear();
  HANDLE file = OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  char chunk[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file, chunk, sizeof chunk, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    contents.append(chunk, got);
  }
  ::CloseHandle(file);
  return ok;
}

SmallFileResult ReadSmallRegularFile(const std::string& path, std::uint64_t max_size,
                                     std::string& contents) {
  contents.clear();
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? SmallFileResult::kMissing
                                                                          : SmallFileResult::kUnreadable;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return SmallFileResult::kNotRegular;
  HANDLE file = OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE) return SmallFileResult::kUnreadable;
  // Devices, consoles and pipes are no configuration files.
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    return SmallFileResult::kNotRegular;
  }
  LARGE_INTEGER length;
  if (!::GetFileSizeEx(file, &length) || static_cast<std::uint64_t>(length.QuadPart) > max_size) {
    ::CloseHandle(file);
    return SmallFileResult::kTooLarge;
  }
  char chunk[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file, chunk, sizeof chunk, &got, nullptr)) {
      ::CloseHandle(file);
      contents.clear();
      return SmallFileResult::kUnreadable;
    }
    if (got == 0) break;
    if (contents.size() + got > max_size) {
      ::CloseHandle(file);
      contents.clear();
      return SmallFileResult::kTooLarge;
    }
    contents.append(chunk, got);
  }
  ::CloseHandle(file);
  return SmallFileResult::kRead;
}

bool IdentifyFile(const std::string& path, FileIdentity& identity) {
  // Backup semantics let a directory be opened; no access right is needed
  // to read its identity.
  HANDLE file = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  const bool known = ::GetFileInformationByHandle(file, &information) != 0;
  ::CloseHandle(file);
  if (!known) return false;
  identity.volume = information.dwVolumeSerialNumber;
  identity.file = static_cast<std::uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
  return true;
}

bool Access(const std::string& path, AccessMode mode) {
  return ::_access(path.c_str(), static_cast<int>(mode)) == 0;
}

std::string ModuleFileName() {
  // A path of fewer than MAX_PATH characters can still take more bytes than
  // that in UTF-8, and long-path-aware processes may run from longer ones.
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), size);
    if (length == 0) return std::string();
    if (length < size) return buffer.substr(0, length);
    if (buffer.size() >= 32768 * 3) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

bool AnsiCodePageIsUtf8() { return ::GetACP() == CP_UTF8; }

bool ListDirectory(const std::string& pattern,
                   FunctionRef<bool(const DirectoryEntry&)> visit) {
  struct _finddata_t data;
  intptr_t search = ::_findfirst(pattern.c_str(), &data);
  if (search == -1) return false;
  do {
    DirectoryEntry entry;
    entry.name = data.name;
    entry.is_directory = (data.attrib & _A_SUBDIR) != 0;
    if (!visit(entry)) break;
  } while (::_findnext(search, &data) == 0);
  ::_findclose(search);
  return true;
}

std::optional<FileStamp> StampOfFile(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return std::nullopt;
  FileStamp stamp;
  stamp.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  stamp.modified = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                   data.ftLastWriteTime.dwLowDateTime;
  return stamp;
}

bool CreateDirectories(const std::string& directory) {
  // Every prefix that ends before a separator is made in turn; one that
  // exists, or cannot be made (a drive, a server or share name), is passed
  // over, and only the whole directory's existence decides.
  for (std::string::size_type i = 1; i <= directory.size(); ++i) {
    if (i < directory.size() && directory[i] != '\\' && directory[i] != '/') continue;
    ::CreateDirectoryA(directory.substr(0, i).c_str(), nullptr);
  }
  const DWORD attributes = ::GetFileAttributesA(directory.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateNewFile(const std::string& path) {
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(file);
  return true;
}

namespace {

// The JVM writes its class-data archives read-only, which Windows will
// neither delete nor replace.
void ClearReadOnly(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
    ::SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

}  // namespace

bool RenameFile(const std::string& from, const std::string& to) {
  ClearReadOnly(to);
  return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool RemoveFile(const std::string& path) {
  ClearReadOnly(path);
  return ::DeleteFileA(path.c_str()) != 0 || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

std::optional<std::uint64_t> FreeDiskSpace(const std::string& directory) {
  ULARGE_INTEGER available;
  if (!::GetDiskFreeSpaceExA(directory.c_str(), &available, nullptr, nullptr)) return std::nullopt;
  return static_cast<std::uint64_t>(available.QuadPart);
}

// ---- Environment ----------------------------------------------------------

std::optional<std::string> GetEnvironment(const std::string& name) {
  const char* value = ::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool PutEnvironment(const std::string& assignment) { return ::_putenv(assignment.c_str()) == 0; }

bool PutEnvironmentUtf8(const std::string& assignment) {
  const std::u16string wide = DecodeUtf8(assignment);
  const std::wstring units(wide.begin(), wide.end());
  return ::_wputenv(units.c_str()) == 0;
}

// ---- Registry -----------------------------------------------------------

namespace {

RegistryType TypeOf(DWORD type) {
  switch (type) {
    case REG_SZ: return RegistryType::kString;
    case REG_EXPAND_SZ: return RegistryType::kExpandString;
    case REG_BINARY: return RegistryType::kBinary;
    case REG_DWORD: return RegistryType::kDword;
    case REG_DWORD_BIG_ENDIAN: return RegistryType::kDwordBigEndian;
    default: return RegistryType::kOther;
  }
}

HKEY RootKey(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kClassesRoot: return HKEY_CLASSES_ROOT;
    case RegistryRoot::kCurrentUser: return HKEY_CURRENT_USER;
    case RegistryRoot::kLocalMachine: return HKEY_LOCAL_MACHINE;
    case RegistryRoot::kUsers: return HKEY_USERS;
    case RegistryRoot::kCurrentConfig: return HKEY_CURRENT_CONFIG;
  }
  return HKEY_LOCAL_MACHINE;
}

}  // namespace

bool ReadRegistryValue(RegistryRoot root, const std::string& subkey, const std::string& value_name,
                       RegistryValue& value) {
  HKEY key;
  if (::RegOpenKeyExA(RootKey(root), subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  const char* name = value_name.empty() ? nullptr : value_name.c_str();
  DWORD type = 0, size = 0;
  bool ok = ::RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
  if (ok) {
    value.type = TypeOf(type);
    value.data.assign(size, 0);
    ok = ::RegQueryValueExA(key, name, nullptr, &type, value.data.data(), &size) == ERROR_SUCCESS;
    if (ok) value.data.resize(size);
  }
  ::RegCloseKey(key);
  return ok;
}

bool ListRegistrySubkeys(RegistryRoot root, const std::string& subkey,
                         std::vector<std::string>& names) {
  HKEY key;
  if (::RegOpenKeyExA(RootKey(root), subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  // Key names are at most 255 characters.
  char name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name;
    LONG status = ::RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_SUCCESS) names.emplace_back(name, length);
  }
  ::RegCloseKey(key);
  return true;
}

// ---- Directories and paths ----------------------------------------------

std::string ResolveLinks(const std::string& path) {
  // GetFinalPathNameByHandleA is looked up rather than imported, so the
  // launcher still starts on systems that lack it (and has no links to
  // follow there).
  using FinalPathName = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
  const FinalPathName final_path_name = reinterpret_cast<FinalPathName>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"),
                                               "GetFinalPathNameByHandleA")));
  if (final_path_name == nullptr) return path;
  HANDLE file = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  char buffer[MAX_PATH * 4];
  DWORD length = final_path_name(file, buffer, sizeof buffer, 0);
  ::CloseHandle(file);
  if (length == 0 || length >= sizeof buffer) return std::string();
  std::string result(buffer, length);
  // The final path comes as "\\?\C:\..."; the plain form is what the
  // rest of the search composes paths from.
  if (result.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + result.substr(8);
  if (result.rfind("\\\\?\\", 0) == 0) return result.substr(4);
  return result;
}

std::string CurrentDirectory() {
  // As for the module file name: UTF-8 can take more than MAX_PATH bytes.
  std::string buffer(MAX_PATH, '\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD length = ::GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) return std::string();
    if (length < buffer.size()) return buffer.substr(0, length);
    buffer.resize(length);  // the size it needs, its terminating zero included
  }
  return std::string();
}

bool ChangeCurrentDirectory(const std::string& path) {
  return ::SetCurrentDirectoryA(path.c_str()) != 0;
}

std::optional<std::string> FullPath(const std::string& path) {
  // Asked once for the size it needs (with the terminating zero), then for
  // the path; a path that grew in between counts as a failure.
  const DWORD needed = ::GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::nullopt;
  std::string buffer(needed, '\0');
  const DWORD length = ::GetFullPathNameA(path.c_str(), needed, buffer.data(), nullptr);
  if (length == 0 || length >= needed) return std::nullopt;
  buffer.resize(length);
  return buffer;
}

char PathListSeparator() { return ';'; }

// ---- Libraries ----------------------------------------------------------

LibraryHandle LoadSharedLibrary(const std::string& path) { return ::LoadLibraryA(path.c_str()); }

void* FindSymbol(LibraryHandle library, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void FreeSharedLibrary(LibraryHandle library) {
  if (library != nullptr) ::FreeLibrary(static_cast<HMODULE>(library));
}

std::string LastSystemErrorText() {
  DWORD code = ::GetLastError();
  char* message = nullptr;
  DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0x400, reinterpret_cast<LPSTR>(&message), 0, nullptr);
  std::string text = length > 0 && message != nullptr ? std::string(message, length) : "";
  if (message != nullptr) ::LocalFree(message);
  return text;
}

void SuppressErrorDialogs() {
  UINT mode = ::SetErrorMode(0);
  ::SetErrorMode(mode | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

// ---- Command line ---------------------------------------------------------

std::string ProcessCommandLine() {
  const char* line = ::GetCommandLineA();
  return line != nullptr ? std::string(line) : std::string();
}

}  // namespace nxo::platform

// ---- Resources, messages, threads and processes ------------------------

#include <process.h>

namespace nxo::platform {

bool LoadStringResource(unsigned id, std::u16string& text) {
  // Strings live in blocks of 16; each is a 16-bit length and its units.
  HRSRC block = ::FindResourceExA(nullptr, MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(id / 16 + 1),
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  if (block == nullptr) return false;
  HGLOBAL loaded = ::LoadResource(nullptr, block);
  if (loaded == nullptr) return false;
  const WORD* units = static_cast<const WORD*>(::LockResource(loaded));
  DWORD size = ::SizeofResource(nullptr, block) / sizeof(WORD);
  if (units == nullptr) return false;
  DWORD at = 0;
  for (unsigned skip = id % 16; skip > 0 && at < size; --skip) at += 1 + units[at];
  if (at >= size) return false;
  DWORD length = units[at];
  if (at + 1 + length > size) return false;
  text.assign(reinterpret_cast<const char16_t*>(units + at + 1), length);
  return true;
}

void ShowWarningBox(const std::string& text, const std::string& caption, void* owner) {
  ::MessageBoxA(static_cast<HWND>(owner), text.c_str(), caption.c_str(),
                MB_TOPMOST | MB_SETFOREGROUND | MB_ICONWARNING);
}

namespace {

struct ThreadStart {
  ThreadProcedure procedure;
  void* argument;
};

// _beginthreadex wants a stdcall procedure; ours is an ordinary function.
unsigned __stdcall ThreadTrampoline(void* raw) {
  ThreadStart* start = static_cast<ThreadStart*>(raw);
  return start->procedure(start->argument);
}

}  // namespace

unsigned RunOnNewThread(ThreadProcedure procedure, void* argument) {
  ThreadStart start{procedure, argument};
  // Stack size 0 with the reservation flag: the executable's default reserve,
  // so the thread that creates the JVM has the stack the first thread has.
  uintptr_t thread = ::_beginthreadex(nullptr, 0, ThreadTrampoline, &start,
                                      STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == 0) thread = ::_beginthreadex(nullptr, 0, ThreadTrampoline, &start, 0, nullptr);
  if (thread == 0) return procedure(argument);
  HANDLE handle = reinterpret_cast<HANDLE>(thread);
  ::WaitForSingleObject(handle, INFINITE);
  DWORD code = 0;
  ::GetExitCodeThread(handle, &code);
  ::CloseHandle(handle);
  return code;
}

}  // namespace nxo::platform

// ---- Launch support -------------------------------------------------------

#include <commctrl.h>

namespace nxo::platform {

std::optional<bool> ProcessIsElevated() {
  OSVERSIONINFOA version;
  ZeroMemory(&version, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;  // the 148-byte structure
  const bool nt6 = ::GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                   version.dwMajorVersion >= 6;
  if (!nt6) return true;  // before Vista every process had full rights
  HANDLE token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return std::nullopt;
  TOKEN_ELEVATION elevation;
  DWORD size = 0;
  std::optional<bool> result;
  if (::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size))
    result = elevation.TokenIsElevated != 0;
  ::CloseHandle(token);
  return result;
}

void InitCommonControls() {
  INITCOMMONCONTROLSEX controls;
  controls.dwSize = 8;
  controls.dwICC = 0;
  ::InitCommonControlsEx(&controls);
}

// ---- Signals and clock ------------------------------------------------------

// A signal is a manual-reset event: once raised it stays raised.
SignalRef CreateSignal() {
  return reinterpret_cast<SignalRef>(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

void RaiseSignal(SignalRef signal) { ::SetEvent(reinterpret_cast<HANDLE>(signal)); }

void ResetSignal(SignalRef signal) { ::ResetEvent(reinterpret_cast<HANDLE>(signal)); }

bool WaitForSignal(SignalRef signal, unsigned milliseconds) {
  return ::WaitForSingleObject(reinterpret_cast<HANDLE>(signal), milliseconds) == WAIT_OBJECT_0;
}

void DestroySignal(SignalRef signal) {
  if (signal != nullptr) ::CloseHandle(reinterpret_cast<HANDLE>(signal));
}

// A slim reader/writer lock, taken exclusively: one pointer, no handle and
// nothing to release.
static_assert(sizeof(SRWLOCK) <= 48 && alignof(SRWLOCK) <= 8);

namespace {
SRWLOCK* NativeLock(unsigned char* storage) {
  return std::launder(reinterpret_cast<SRWLOCK*>(storage));
}
}  // namespace

Mutex::Mutex() { ::InitializeSRWLock(new (storage_) SRWLOCK); }
Mutex::~Mutex() = default;
void Mutex::lock() { ::AcquireSRWLockExclusive(NativeLock(storage_)); }
void Mutex::unlock() { ::ReleaseSRWLockExclusive(NativeLock(storage_)); }

namespace {

long long PerformanceCounter() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return now.QuadPart;
}

const long long counter_at_start = PerformanceCounter();

}  // namespace

unsigned long long MicrosecondsSinceStart() {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  const long long ticks = PerformanceCounter() - counter_at_start;
  // Seconds and the remainder apart, so that the product cannot overflow.
  return static_cast<unsigned long long>(ticks / frequency.QuadPart) * 1000000ULL +
         static_cast<unsigned long long>(ticks % frequency.QuadPart) * 1000000ULL /
             static_cast<unsigned long long>(frequency.QuadPart);
}

}  // namespace nxo::platform
