// Watches for the launcher's splash window under Wine and reports what the
// system knows of it, for the splash tests.
//
//   splash_probe SECONDS
//     Waits up to SECONDS for a visible top-level window of class
//     "NXOSPLASH" and prints, once it shows:
//       shown style=0x... exstyle=0x... x=X y=Y width=W height=H title=TEXT
//       screen width=W height=H
//     then waits (for the rest of SECONDS) until that window is gone and
//     prints "gone", or "timeout". When its standard input ends before a
//     splash showed (the test closes it once the program has ended), it
//     prints "none". Lines are flushed as they are written.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

std::atomic<bool> input_ended{false};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: splash_probe SECONDS\n");
    return 2;
  }
  const DWORD limit = static_cast<DWORD>(std::atoi(argv[1])) * 1000;
  const DWORD start = GetTickCount();
  std::thread([] {
    char buffer[64];
    while (std::fgets(buffer, sizeof buffer, stdin) != nullptr) {
    }
    input_ended = true;
  }).detach();
  HWND splash = nullptr;
  while (splash == nullptr && GetTickCount() - start < limit) {
    splash = FindWindowA("NXOSPLASH", nullptr);
    if (splash != nullptr) break;
    if (input_ended) {
      std::printf("none\n");
      std::fflush(stdout);
      return 0;
    }
    Sleep(20);
  }
  if (splash == nullptr) {
    std::printf("timeout\n");
    return 1;
  }
  // Found while it is still being made: report it once it shows.
  while (IsWindow(splash) && !IsWindowVisible(splash) && GetTickCount() - start < limit) Sleep(10);
  RECT rect;
  GetWindowRect(splash, &rect);
  char title[256] = "";
  GetWindowTextA(splash, title, sizeof title);
  std::printf("shown style=0x%08lx exstyle=0x%08lx x=%ld y=%ld width=%ld height=%ld title=%s\n",
              static_cast<unsigned long>(GetWindowLongA(splash, GWL_STYLE)),
              static_cast<unsigned long>(GetWindowLongA(splash, GWL_EXSTYLE)), rect.left, rect.top,
              rect.right - rect.left, rect.bottom - rect.top, title);
  std::printf("screen width=%d height=%d\n", GetSystemMetrics(SM_CXSCREEN),
              GetSystemMetrics(SM_CYSCREEN));
  std::fflush(stdout);
  while (IsWindow(splash) && GetTickCount() - start < limit) Sleep(20);
  std::printf(IsWindow(splash) ? "timeout\n" : "gone\n");
  std::fflush(stdout);
  return 0;
}
