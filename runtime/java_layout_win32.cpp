// A Java runtime on Windows.
#include "runtime/java_layout.h"

#include "platform/platform.h"

namespace nxo::runtime {

std::string JvmLibraryName() { return "jvm.dll"; }

std::vector<std::string> RuntimeHomeSuffixes() {
  // A JRE keeps bin\<flavour>\jvm.dll; a JDK keeps it below jre\bin, and a
  // JDK's bin directory reaches that jre one level up.
  return {"", "bin\\", "jre\\bin\\", "..\\jre\\bin\\"};
}

std::string JavaLauncherName() { return "java.exe"; }

std::vector<std::string> SystemRuntimeHomes() { return {}; }  // the registry names them

bool RetryLibraryLoadWithPath() { return true; }

std::string SplashLibraryName() { return "splashscreen.dll"; }

bool BindNativesByRegistration() { return false; }

std::string UserCacheDirectory() {
  std::string local = platform::GetEnvironment("LOCALAPPDATA").value_or("");
  while (!local.empty() && (local.back() == '\\' || local.back() == '/')) local.pop_back();
  return local;
}

}  // namespace nxo::runtime
