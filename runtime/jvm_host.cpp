#include "runtime/jvm_host.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "runtime/java_layout.h"
#include "support/path.h"

namespace nxo::runtime {

namespace {

using CreateJavaVmFunction = jint(JNICALL*)(JavaVM**, void**, void*);

// The directory that holds the library's flavour directory: its own
// directory followed by "..". A runtime's DLLs sit there, beside bin\<flavour>.
std::string ParentOfLibraryDirectory(const std::string& library_path) {
  return DirectoryPart(library_path) + "..";
}

void AppendToPath(const std::string& directory) {
  std::string path = platform::GetEnvironment("PATH").value_or("");
  platform::PutEnvironment("PATH=" + path + platform::PathListSeparator() + directory);
}

CreateJavaVmFunction FindCreationEntry(platform::LibraryHandle library) {
  void* entry = platform::FindSymbol(library, kCreateJavaVmEntry);
  if (entry == nullptr) entry = platform::FindSymbol(library, kCreateJavaVmImplEntry);
  return reinterpret_cast<CreateJavaVmFunction>(entry);
}

}  // namespace

JvmStatus LoadJvmLibrary(JvmHost& host, const std::string& library_path) {
  platform::SuppressErrorDialogs();
  host.library = platform::LoadSharedLibrary(library_path);
  if (host.library != nullptr) return kJvmOk;
  if (RetryLibraryLoadWithPath()) {
    AppendToPath(ParentOfLibraryDirectory(library_path));
    host.library = platform::LoadSharedLibrary(library_path);
    if (host.library != nullptr) return kJvmOk;
  }
  ReportLoadError(library_path);
  return kJvmLibraryInvalid;
}

JvmStatus CreateJavaVm(JvmHost& host, const std::string& library_path) {
  if (host.library == nullptr) {
    JvmStatus code = LoadJvmLibrary(host, library_path);
    if (host.library == nullptr) return code;
  }
  CreateJavaVmFunction create = FindCreationEntry(host.library);
  if (create == nullptr) return kJvmLibraryInvalid;

  std::vector<JavaVMOption> options(host.options.Size());
  for (std::size_t i = 0; i < options.size(); ++i) {
    options[i].optionString = const_cast<char*>(host.options.At(i));
    options[i].extraInfo = nullptr;
  }
  JavaVMInitArgs arguments{};
  arguments.version = JNI_VERSION_1_2;
  arguments.nOptions = static_cast<jint>(options.size());
  arguments.options = options.data();
  arguments.ignoreUnrecognized = JNI_TRUE;

  jint result = create(&host.vm, reinterpret_cast<void**>(&host.env), &arguments);
  // The runtime has taken what it needs; options added later start anew.
  options.clear();
  host.options.Clear();
  if (result == JNI_OK) return kJvmOk;
  host.vm = nullptr;
  return kJvmCreationFailed;
}

void UnloadJvm(JvmHost& host) {
  if (host.vm != nullptr) {
    host.vm->DetachCurrentThread();
    host.vm->DestroyJavaVM();
    host.vm = nullptr;
    host.env = nullptr;
  }
  if (host.library != nullptr) {
    platform::FreeSharedLibrary(host.library);
    host.library = nullptr;
  }
}

void ReportLoadError(const std::string& library_path) {
  const std::string line = platform::LastErrorText(library_path) + "\n";
  std::fputs(line.c_str(), stderr);
}

}  // namespace nxo::runtime
