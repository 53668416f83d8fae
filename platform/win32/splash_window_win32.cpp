// Win32 side of the splash: the thread, resource and window services the
// splash subsystem uses.
#include <windows.h>
#include <process.h>

#include "platform/platform.h"

namespace nxo::platform {

namespace {

constexpr char kSplashClassName[] = "NXOSPLASH";
constexpr UINT_PTR kCloseTimer = 1;
// A timer request forwarded from another thread: wParam holds the delay as a
// signed number of milliseconds.
constexpr UINT kForwardedTimerMessage = WM_APP + 0x4E;

struct DetachedStart {
  ThreadProcedure procedure;
  void* argument;
};

unsigned __stdcall DetachedTrampoline(void* raw) {
  DetachedStart start = *static_cast<DetachedStart*>(raw);
  delete static_cast<DetachedStart*>(raw);
  return start.procedure(start.argument);
}

void PaintSplash(HWND window) {
  HBITMAP bitmap = reinterpret_cast<HBITMAP>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  RECT client;
  ::GetClientRect(window, &client);
  PAINTSTRUCT paint;
  HDC target = ::BeginPaint(window, &paint);
  HDC memory = ::CreateCompatibleDC(target);
  HGDIOBJ previous = ::SelectObject(memory, bitmap);
  ::BitBlt(target, 0, 0, client.right - client.left, client.bottom - client.top, memory, 0, 0,
           SRCCOPY);
  ::SelectObject(memory, previous);
  ::DeleteDC(memory);
  ::EndPaint(window, &paint);
}

LRESULT CALLBACK SplashProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT:
      PaintSplash(window);
      return 0;
    case WM_TIMER:
    case WM_KEYDOWN:
      ::PostMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
    case WM_NCMBUTTONDOWN:
    case WM_SYSKEYDOWN:
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    case kForwardedTimerMessage: {
      const int delay = static_cast<int>(static_cast<INT_PTR>(wparam));
      ::KillTimer(window, kCloseTimer);
      if (delay >= 0) ::SetTimer(window, kCloseTimer, static_cast<UINT>(delay), nullptr);
      return 0;
    }
    default:
      return ::DefWindowProcA(window, message, wparam, lparam);
  }
}

bool RegisterSplashClass(HINSTANCE instance) {
  WNDCLASSA existing;
  if (::GetClassInfoA(instance, kSplashClassName, &existing)) return true;
  WNDCLASSA splash_class = {};
  splash_class.style = 0;
  splash_class.lpfnWndProc = SplashProcedure;
  splash_class.hInstance = instance;
  splash_class.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  splash_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  splash_class.lpszClassName = kSplashClassName;
  return ::RegisterClassA(&splash_class) != 0;
}

}  // namespace

bool StartDetachedThread(ThreadProcedure procedure, void* argument) {
  DetachedStart* start = new DetachedStart{procedure, argument};
  uintptr_t thread = ::_beginthreadex(nullptr, 0, DetachedTrampoline, start, 0, nullptr);
  if (thread == 0) {
    delete start;
    return false;
  }
  ::CloseHandle(reinterpret_cast<HANDLE>(thread));
  return true;
}

void LowerThreadPriority() { ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_LOWEST); }

void YieldToOtherThreads() { ::Sleep(0); }

bool FindDataResource(unsigned id, const unsigned char*& data, std::size_t& size) {
  HRSRC resource = ::FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (resource == nullptr) return false;
  HGLOBAL loaded = ::LoadResource(nullptr, resource);
  if (loaded == nullptr) return false;
  data = static_cast<const unsigned char*>(::LockResource(loaded));
  size = ::SizeofResource(nullptr, resource);
  return data != nullptr;
}

SplashPicture LoadBitmapResource(unsigned id) {
  return ::LoadBitmapA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
}

SplashPicture MakeSplashPicture(int width, int height, const std::uint32_t* pixels) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // rows from the top
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr || bits == nullptr) return nullptr;
  ::CopyMemory(bits, pixels, static_cast<std::size_t>(width) * height * 4);
  return bitmap;
}

void FreeSplashPicture(SplashPicture picture) {
  if (picture != nullptr) ::DeleteObject(static_cast<HBITMAP>(picture));
}

SplashWindowRef OpenSplashWindow(SplashPicture picture, const std::string& title) {
  HINSTANCE instance = ::GetModuleHandleA(nullptr);
  if (!RegisterSplashClass(instance)) return nullptr;
  BITMAP size = {};
  ::GetObjectA(static_cast<HBITMAP>(picture), sizeof size, &size);
  // Signed division: a picture larger than the screen is still centred, at
  // negative coordinates.
  const int x = (::GetSystemMetrics(SM_CXSCREEN) - static_cast<int>(size.bmWidth)) / 2;
  const int y = (::GetSystemMetrics(SM_CYSCREEN) - static_cast<int>(size.bmHeight)) / 2;
  const DWORD extended_style = title.empty() ? WS_EX_TOOLWINDOW : 0;
  HWND window = ::CreateWindowExA(extended_style, kSplashClassName, title.c_str(),
                                  WS_POPUP | WS_VISIBLE, x, y, size.bmWidth, size.bmHeight,
                                  nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return nullptr;
  ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(picture));
  ::ShowWindow(window, SW_SHOW);
  ::UpdateWindow(window);
  return window;
}

void RunSplashWindow(SplashWindowRef) {
  MSG message;
  while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

void ReleaseSplashWindow(SplashWindowRef) {}

void* SplashWindowSystemHandle(SplashWindowRef window) { return window; }

void ForwardSplashTimer(SplashWindowRef window, int milliseconds) {
  ::PostMessageA(static_cast<HWND>(window), kForwardedTimerMessage,
                 static_cast<WPARAM>(static_cast<INT_PTR>(milliseconds)), 0);
}

void PostSplashClose(SplashWindowRef window) {
  ::PostMessageA(static_cast<HWND>(window), WM_CLOSE, 0, 0);
}

}  // namespace nxo::platform
