// Watches for the message boxes of one program and reports what they show,
// for the end-to-end launcher tests that run under Wine.
//
//   msgbox_watch watch IMAGE SECONDS
//     Reports every message box (dialog class "#32770") that a process whose
//     image path is IMAGE opens, and dismisses it with OK. It stops when its
//     standard input ends (the test closes it once the program has exited) or
//     after SECONDS. Each box gives the lines
//       box
//       caption=...            the window text
//       text=...               the text of the static control 0xFFFF
//       style=0x... exstyle=0x...
//       topmost=0|1
//       icon=warning|error|information|question|none|unknown
//       owner=CLASS            the window class of the box's owner, or none
//       dismissed=0|1
//     with backslash, line feed, carriage return and tab written as \\ \n \r \t.
//   msgbox_watch show TEXT CAPTION FLAGS
//     Shows a message box itself (FLAGS as a number, such as 0x50030), so a
//     test can compare what this system makes of those flags with the box a
//     program shows; prints the button that closed it.
//   msgbox_watch elevation
//     Prints elevated=1, elevated=0 or elevated=unknown: whether this
//     process's token counts as elevated, read the way the system reports it.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

std::atomic<bool> input_ended{false};

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out.push_back(c); break;
    }
  }
  return out;
}

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(),
                                                static_cast<int>(a.size()), b.data(),
                                                static_cast<int>(b.size())) == CSTR_EQUAL;
}

std::string ImageOfWindow(HWND window) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  if (process == nullptr) return "";
  char path[MAX_PATH * 2];
  DWORD length = sizeof path;
  std::string image;
  if (QueryFullProcessImageNameA(process, 0, path, &length)) image.assign(path, length);
  CloseHandle(process);
  return image;
}

struct Search {
  std::string image;
  std::set<HWND> seen;
  HWND found = nullptr;
};

BOOL CALLBACK ConsiderWindow(HWND window, LPARAM raw) {
  Search& search = *reinterpret_cast<Search*>(raw);
  char class_name[64];
  if (GetClassNameA(window, class_name, sizeof class_name) == 0) return TRUE;
  if (std::string(class_name) != "#32770" || !IsWindowVisible(window)) return TRUE;
  if (search.seen.count(window) != 0) return TRUE;
  if (!SameTextIgnoringCase(ImageOfWindow(window), search.image)) return TRUE;
  search.found = window;
  return FALSE;
}

// Texts are read wide and reported as UTF-8, so that every character the
// box shows can be compared.
std::string AsUtf8(const wchar_t* units, int length) {
  if (length <= 0) return std::string();
  char buffer[16384];
  int written = WideCharToMultiByte(CP_UTF8, 0, units, length, buffer, sizeof buffer, nullptr, nullptr);
  return std::string(buffer, written > 0 ? static_cast<size_t>(written) : 0);
}

std::string WindowText(HWND window) {
  wchar_t buffer[4096];
  int length = GetWindowTextW(window, buffer, 4096);
  return AsUtf8(buffer, length);
}

std::string DialogItemText(HWND box, int id) {
  wchar_t buffer[4096];
  UINT length = GetDlgItemTextW(box, id, buffer, 4096);
  return AsUtf8(buffer, static_cast<int>(length));
}

// ---- Which standard icon the box shows ----------------------------------------
//
// An icon handle of another process cannot be read, so the icon is recognised
// on the screen: the pixels of the box's icon control are compared with each
// standard icon drawn here at the same size, on the pixels that icon covers.

struct Pixels {
  int width = 0, height = 0;
  std::vector<COLORREF> data;
  COLORREF At(int x, int y) const { return data[static_cast<size_t>(y * width + x)]; }
};

Pixels ReadPixels(HDC source, int x, int y, int width, int height) {
  Pixels pixels;
  pixels.width = width;
  pixels.height = height;
  HDC memory = CreateCompatibleDC(source);
  HBITMAP bitmap = CreateCompatibleBitmap(source, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
  for (int row = 0; row < height; ++row)
    for (int column = 0; column < width; ++column) pixels.data.push_back(GetPixel(memory, column, row));
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  return pixels;
}

Pixels DrawnIcon(HICON icon, int width, int height, COLORREF background) {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  HBRUSH brush = CreateSolidBrush(background);
  RECT all = {0, 0, width, height};
  FillRect(memory, &all, brush);
  DeleteObject(brush);
  DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  Pixels pixels = ReadPixels(memory, 0, 0, width, height);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

// Share of the icon's opaque pixels that the screen shows unchanged (0..1).
double Likeness(const Pixels& screen, HICON icon) {
  Pixels on_black = DrawnIcon(icon, screen.width, screen.height, RGB(0, 0, 0));
  Pixels on_white = DrawnIcon(icon, screen.width, screen.height, RGB(255, 255, 255));
  int opaque = 0, equal = 0;
  for (int y = 0; y < screen.height; ++y)
    for (int x = 0; x < screen.width; ++x) {
      if (on_black.At(x, y) != on_white.At(x, y)) continue;
      ++opaque;
      if (screen.At(x, y) == on_black.At(x, y)) ++equal;
    }
  return opaque == 0 ? 0.0 : static_cast<double>(equal) / opaque;
}

BOOL CALLBACK FindIconControl(HWND child, LPARAM raw) {
  char class_name[64];
  GetClassNameA(child, class_name, sizeof class_name);
  if (lstrcmpiA(class_name, "Static") == 0 &&
      (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child)) {
    *reinterpret_cast<HWND*>(raw) = child;
    return FALSE;
  }
  return TRUE;
}

std::string IconKind(HWND box) {
  HWND control = nullptr;
  EnumChildWindows(box, FindIconControl, reinterpret_cast<LPARAM>(&control));
  if (control == nullptr) return "none";
  RECT rect;
  GetWindowRect(control, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return "none";
  const struct {
    const char* name;
    LPCSTR id;
  } candidates[] = {{"warning", IDI_WARNING},
                    {"error", IDI_ERROR},
                    {"information", IDI_INFORMATION},
                    {"question", IDI_QUESTION}};
  for (int attempt = 0; attempt < 20; ++attempt) {
    SetWindowPos(box, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    HDC screen = GetDC(nullptr);
    Pixels shown = ReadPixels(screen, rect.left, rect.top, width, height);
    ReleaseDC(nullptr, screen);
    const char* best = nullptr;
    double best_likeness = 0.0;
    for (const auto& candidate : candidates) {
      double likeness = Likeness(shown, LoadIconA(nullptr, candidate.id));
      if (likeness > best_likeness) {
        best_likeness = likeness;
        best = candidate.name;
      }
    }
    if (best != nullptr && best_likeness > 0.9) return best;
    Sleep(100);  // not painted yet
  }
  return "unknown";
}

// ---- Reporting and dismissing ---------------------------------------------------

void Report(HWND box) {
  Sleep(300);  // the box sets its position and styles once it is shown
  const LONG style = GetWindowLongA(box, GWL_STYLE);
  const LONG extended = GetWindowLongA(box, GWL_EXSTYLE);
  std::printf("box\n");
  std::printf("caption=%s\n", Escaped(WindowText(box)).c_str());
  std::printf("text=%s\n", Escaped(DialogItemText(box, 0xFFFF)).c_str());
  std::printf("style=0x%08lx exstyle=0x%08lx\n", static_cast<unsigned long>(style),
              static_cast<unsigned long>(extended));
  std::printf("topmost=%d\n", (extended & WS_EX_TOPMOST) != 0 ? 1 : 0);
  std::fflush(stdout);
  std::printf("icon=%s\n", IconKind(box).c_str());
  HWND owner = GetWindow(box, GW_OWNER);
  char owner_class[64] = "none";
  if (owner != nullptr && GetClassNameA(owner, owner_class, sizeof owner_class) == 0)
    std::strcpy(owner_class, "unknown");
  std::printf("owner=%s\n", owner_class);
  std::fflush(stdout);
}

bool Dismiss(HWND box) {
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  for (int waited = 0; waited < 10000; waited += 20) {
    if (!IsWindow(box)) return true;
    if (waited == 5000) PostMessageA(box, WM_CLOSE, 0, 0);
    Sleep(20);
  }
  return false;
}

DWORD WINAPI WatchInput(LPVOID) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  char buffer[256];
  DWORD read = 0;
  while (ReadFile(input, buffer, sizeof buffer, &read, nullptr) && read > 0) {
  }
  input_ended = true;
  return 0;
}

int Watch(const std::string& image, int seconds) {
  CreateThread(nullptr, 0, WatchInput, nullptr, 0, nullptr);
  Search search;
  search.image = image;
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  for (;;) {
    // After the program ended, one more look finds nothing new; stop then.
    const bool last_look = input_ended;
    search.found = nullptr;
    EnumWindows(ConsiderWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) {
      search.seen.insert(search.found);
      Report(search.found);
      std::printf("dismissed=%d\n", Dismiss(search.found) ? 1 : 0);
      std::fflush(stdout);
      continue;
    }
    if (last_look) return 0;
    if (GetTickCount64() > deadline) {
      std::printf("timeout\n");
      return 3;
    }
    Sleep(20);
  }
}

int ReportElevation() {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    std::printf("elevated=unknown\n");
    return 0;
  }
  TOKEN_ELEVATION elevation;
  DWORD size = 0;
  if (GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size))
    std::printf("elevated=%d\n", elevation.TokenIsElevated != 0 ? 1 : 0);
  else
    std::printf("elevated=unknown\n");
  CloseHandle(token);
  return 0;
}

int ShowBox(const char* text, const char* caption, const char* flags) {
  const UINT type = static_cast<UINT>(std::strtoul(flags, nullptr, 0));
  std::printf("answer=%d\n", MessageBoxA(nullptr, text, caption, type));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "watch") return Watch(argv[2], std::atoi(argv[3]));
  if (argc == 5 && std::string(argv[1]) == "show") return ShowBox(argv[2], argv[3], argv[4]);
  if (argc == 2 && std::string(argv[1]) == "elevation") return ReportElevation();
  std::fprintf(stderr, "usage: msgbox_watch watch IMAGE SECONDS | show TEXT CAPTION FLAGS | elevation\n");
  return 2;
}
