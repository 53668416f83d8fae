// A stand-in for a Java runtime's splash library (splashscreen.dll), for the
// tests of the launcher's runtime splash bridge under Wine. It shows
// nothing; it records each call, one line each, in the file named by
// NXO_JVM_DOUBLE_LOG (the JVM double's log, so the order across both shows):
//   splash_init jvm_loaded=0|1     whether jvm.dll was already in the process
//   splash_load_memory size=N head=XXXXXXXX  the first four bytes in hex
//   splash_load_file PATH
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

void Log(const std::string& line) {
  char path[1024];
  DWORD length = GetEnvironmentVariableA("NXO_JVM_DOUBLE_LOG", path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  FILE* log = std::fopen(path, "ab");
  if (log == nullptr) return;
  std::fprintf(log, "%s\n", line.c_str());
  std::fclose(log);
}

}  // namespace

extern "C" {

__declspec(dllexport) void SplashInit() {
  Log(std::string("splash_init jvm_loaded=") + (GetModuleHandleA("jvm.dll") != nullptr ? "1" : "0"));
}

__declspec(dllexport) int SplashLoadMemory(void* data, int size) {
  char head[16] = "";
  if (size >= 4) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::snprintf(head, sizeof head, "%02X%02X%02X%02X", bytes[0], bytes[1], bytes[2], bytes[3]);
  }
  Log("splash_load_memory size=" + std::to_string(size) + " head=" + head);
  return 1;
}

__declspec(dllexport) int SplashLoadFile(const char* path) {
  Log(std::string("splash_load_file ") + path);
  return 1;
}

}  // extern "C"
