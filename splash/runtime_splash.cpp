// The start-up splash step and the bridge to the Java runtime's own splash
// library.
#include <string>

#include "config/keys.h"
#include "config/payload.h"
#include "runtime/java_layout.h"
#include "support/bitmap_file.h"
#include "support/never_destroyed.h"
#include "splash/splash.h"
#include "support/path.h"

namespace nxo::splash {

namespace {

using SplashInitFunction = void (*)();
using SplashLoadMemoryFunction = int (*)(void* data, int size);
using SplashLoadFileFunction = int (*)(const char* path);

// The executable's archive entry |name| (see config/payload.h); empty when
// the executable carries none.
std::string ReadPayloadEntry(const config::LaunchConfig& config, const char* name) {
  std::string bytes;
  if (config.PayloadPosition() <= 0) return bytes;
  platform::RandomAccessFile image;
  if (!image.Open(config.ExecutablePath())) return bytes;
  const std::uint64_t archive_start =
      static_cast<std::uint64_t>(config.PayloadPosition()) + config::kDigestSize;
  if (!config::ReadLeadingStoredEntry(image, archive_start, name, bytes)) bytes.clear();
  return bytes;
}

// The payload's image once read: the runtime's library may keep using the
// bytes until the process is gone.
NeverDestroyed<std::string> payload_image;

// The image for the runtime's library: raw-data resource 100, or on
// platforms without resources the image entry of the payload. The bytes stay
// in memory for the life of the process, as the library may keep using them.
bool FindSplashImage(const config::LaunchConfig& config, const unsigned char*& data,
                     std::size_t& size) {
  if (platform::FindDataResource(kSplashResourceId, data, size)) return true;
  std::string& image = payload_image.get();
  image = ReadPayloadEntry(config, config::kSplashImageEntry);
  if (image.empty()) return false;
  data = reinterpret_cast<const unsigned char*>(image.data());
  size = image.size();
  return true;
}

// The picture for the launcher's own window: bitmap resource 100, or on
// platforms without resources the BMP entry of the payload.
platform::SplashPicture LoadSplashPicture(const config::LaunchConfig& config) {
  platform::SplashPicture picture = platform::LoadBitmapResource(kSplashResourceId);
  if (picture != nullptr) return picture;
  const std::string file = ReadPayloadEntry(config, config::kSplashBitmapEntry);
  DecodedPicture decoded;
  if (file.empty() || !DecodeBitmapFile(file, decoded)) return nullptr;
  return platform::MakeSplashPicture(decoded.width, decoded.height, decoded.pixels.data());
}

platform::LibraryHandle LoadSplashLibrary(const std::string& library) {
  platform::LibraryHandle handle = platform::LoadSharedLibrary(library);
  if (handle != nullptr || !runtime::RetryLibraryLoadWithPath()) return handle;
  // The library's own directory, where the DLLs it needs sit.
  const std::string path = platform::GetEnvironment("PATH").value_or("");
  platform::PutEnvironment("PATH=" + path + platform::PathListSeparator() + DirectoryPart(library));
  return platform::LoadSharedLibrary(library);
}

}  // namespace

std::string FindRuntimeSplashLibrary(const std::string& jvm_library) {
  if (jvm_library.empty()) return std::string();
  std::string splash = DirectoryPart(jvm_library) + "../" + runtime::SplashLibraryName();
  return platform::Access(splash, platform::AccessMode::kRead) ? splash : std::string();
}

void StartRuntimeSplash(const config::LaunchConfig& config, runtime::JvmHost& host,
                        const std::string& jvm_library, const std::string& library) {
  platform::SuppressErrorDialogs();
  // The runtime's libraries go into the process first: the splash library
  // needs them (on Linux it finds libjvm's symbols only in a library loaded
  // with global visibility).
  if (!jvm_library.empty() && host.library == nullptr) runtime::LoadJvmLibrary(host, jvm_library);

  // The picture is found before the library is loaded: without one the
  // library would show nothing, and loading it (with the windowing libraries
  // it needs) is most of what a start without a splash would spend here.
  std::string file;
  const std::string configured = config::keys::Splash(config);
  if (!configured.empty()) {
    file = config.ResolveConfigPath(configured);
    if (!platform::Access(file, platform::AccessMode::kRead)) file.clear();
  }
  const unsigned char* data = nullptr;
  std::size_t size = 0;
  if (file.empty() && (!FindSplashImage(config, data, size) || size == 0)) return;

  // Never unloaded: from here on the splash belongs to the runtime.
  platform::LibraryHandle splash_library = LoadSplashLibrary(library);
  if (splash_library == nullptr) return;
  auto init = reinterpret_cast<SplashInitFunction>(platform::FindSymbol(splash_library, "SplashInit"));
  auto load_memory = reinterpret_cast<SplashLoadMemoryFunction>(
      platform::FindSymbol(splash_library, "SplashLoadMemory"));
  auto load_file = reinterpret_cast<SplashLoadFileFunction>(
      platform::FindSymbol(splash_library, "SplashLoadFile"));
  if (init == nullptr) return;
  init();
  if (!file.empty()) {
    if (load_file != nullptr) load_file(file.c_str());
  } else if (load_memory != nullptr) {
    load_memory(const_cast<unsigned char*>(data), static_cast<int>(size));
  }
}

std::shared_ptr<SplashWindow> ShowStartupSplash(const config::LaunchConfig& config,
                                                runtime::JvmHost& host,
                                                const std::string& jvm_library) {
  const std::string library = FindRuntimeSplashLibrary(jvm_library);
  if (!library.empty()) {
    StartRuntimeSplash(config, host, jvm_library, library);
    return nullptr;
  }
  platform::SplashPicture picture = LoadSplashPicture(config);
  if (picture == nullptr) return nullptr;
  return ShowSplash(picture, config::keys::SplashTitle(config));
}

}  // namespace nxo::splash
