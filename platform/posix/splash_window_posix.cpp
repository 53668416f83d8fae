// POSIX side of the splash: threads, and the splash window drawn through
// X11. libX11 is opened at run time, so the launcher has no link-time
// dependency on it: without the library or without an X server (DISPLAY)
// there is simply no splash window. Every X call happens on the splash
// thread; other threads leave requests in the window's record and wake the
// thread through a pipe.
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace nxo::platform {

namespace {

struct DetachedStart {
  ThreadProcedure procedure;
  void* argument;
};

void* DetachedTrampoline(void* raw) {
  DetachedStart start = *static_cast<DetachedStart*>(raw);
  delete static_cast<DetachedStart*>(raw);
  start.procedure(start.argument);
  return nullptr;
}

// The libX11 entry points the splash uses, looked up once.
struct X11Library {
  bool loaded = false;
  Display* (*OpenDisplay)(const char*) = nullptr;
  int (*CloseDisplay)(Display*) = nullptr;
  Window (*CreateWindow)(Display*, Window, int, int, unsigned, unsigned, unsigned, int, unsigned,
                         Visual*, unsigned long, XSetWindowAttributes*) = nullptr;
  int (*DestroyWindow)(Display*, Window) = nullptr;
  int (*MapRaised)(Display*, Window) = nullptr;
  int (*StoreName)(Display*, Window, const char*) = nullptr;
  Atom (*InternAtom)(Display*, const char*, Bool) = nullptr;
  int (*ChangeProperty)(Display*, Window, Atom, Atom, int, int, const unsigned char*, int) = nullptr;
  void (*SetWMNormalHints)(Display*, Window, XSizeHints*) = nullptr;
  XImage* (*CreateImage)(Display*, Visual*, unsigned, int, int, char*, unsigned, unsigned, int, int) = nullptr;
  int (*PutImage)(Display*, Drawable, GC, XImage*, int, int, int, int, unsigned, unsigned) = nullptr;
  GC (*CreateGC)(Display*, Drawable, unsigned long, XGCValues*) = nullptr;
  int (*FreeGC)(Display*, GC) = nullptr;
  int (*Pending)(Display*) = nullptr;
  int (*NextEvent)(Display*, XEvent*) = nullptr;
  int (*Flush)(Display*) = nullptr;
  int (*SetInputFocus)(Display*, Window, int, Time) = nullptr;
  int (*Free)(void*) = nullptr;
};

template <typename Function>
bool Bind(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
  return function != nullptr;
}

X11Library x11;
pthread_once_t x11_bound = PTHREAD_ONCE_INIT;

void BindX11() {
  void* library = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return;
  x11.loaded = Bind(library, "XOpenDisplay", x11.OpenDisplay) &&
               Bind(library, "XCloseDisplay", x11.CloseDisplay) &&
               Bind(library, "XCreateWindow", x11.CreateWindow) &&
               Bind(library, "XDestroyWindow", x11.DestroyWindow) &&
               Bind(library, "XMapRaised", x11.MapRaised) &&
               Bind(library, "XStoreName", x11.StoreName) &&
               Bind(library, "XInternAtom", x11.InternAtom) &&
               Bind(library, "XChangeProperty", x11.ChangeProperty) &&
               Bind(library, "XSetWMNormalHints", x11.SetWMNormalHints) &&
               Bind(library, "XCreateImage", x11.CreateImage) &&
               Bind(library, "XPutImage", x11.PutImage) &&
               Bind(library, "XCreateGC", x11.CreateGC) &&
               Bind(library, "XFreeGC", x11.FreeGC) &&
               Bind(library, "XPending", x11.Pending) &&
               Bind(library, "XNextEvent", x11.NextEvent) &&
               Bind(library, "XFlush", x11.Flush) &&
               Bind(library, "XSetInputFocus", x11.SetInputFocus) &&
               Bind(library, "XFree", x11.Free);
}

const X11Library& X11() {
  ::pthread_once(&x11_bound, BindX11);
  return x11;
}

struct Picture {
  int width;
  int height;
  std::vector<std::uint32_t> pixels;
};

using Clock = std::chrono::steady_clock;

struct X11Splash {
  Display* display = nullptr;
  Window window = 0;
  GC gc = nullptr;
  XImage* image = nullptr;
  int wake[2] = {-1, -1};
  bool closed = false;
  bool painted = false;
  bool timer_running = false;
  Clock::time_point timer_due;

  // Requests from other threads, taken over by the splash thread.
  Mutex lock;
  bool close_requested = false;
  bool timer_requested = false;
  int timer_delay = -1;
};

void Wake(X11Splash& splash) {
  const char byte = 1;
  if (::write(splash.wake[1], &byte, 1) < 0) {
    // A full pipe already holds a wake-up.
  }
}

void Paint(X11Splash& splash) {
  const X11Library& x = X11();
  x.PutImage(splash.display, splash.window, splash.gc, splash.image, 0, 0, 0, 0,
             static_cast<unsigned>(splash.image->width), static_cast<unsigned>(splash.image->height));
  x.Flush(splash.display);
  splash.painted = true;
}

void Close(X11Splash& splash) {
  if (splash.closed) return;
  X11().DestroyWindow(splash.display, splash.window);
  X11().Flush(splash.display);
  splash.closed = true;
}

void SetAtomProperty(Display* display, Window window, const char* property,
                     const std::vector<const char*>& values) {
  const X11Library& x = X11();
  std::vector<Atom> atoms;
  for (const char* value : values) atoms.push_back(x.InternAtom(display, value, False));
  x.ChangeProperty(display, window, x.InternAtom(display, property, False), XA_ATOM, 32,
                   PropModeReplace, reinterpret_cast<const unsigned char*>(atoms.data()),
                   static_cast<int>(atoms.size()));
}

// Window-manager hints: an untitled splash is an override-redirect splash
// window that no taskbar lists; a titled one is an ordinary, undecorated
// window with that title, which the taskbar lists.
void DescribeToWindowManager(Display* display, Window window, const std::string& title, int x,
                             int y, int width, int height) {
  const X11Library& xlib = X11();
  XSizeHints hints = {};
  hints.flags = USPosition | PPosition | PMinSize | PMaxSize;
  hints.x = x;
  hints.y = y;
  hints.min_width = hints.max_width = width;
  hints.min_height = hints.max_height = height;
  xlib.SetWMNormalHints(display, window, &hints);
  // _MOTIF_WM_HINTS: flags = decorations, decorations = none.
  const long motif[5] = {2, 0, 0, 0, 0};
  Atom motif_atom = xlib.InternAtom(display, "_MOTIF_WM_HINTS", False);
  xlib.ChangeProperty(display, window, motif_atom, motif_atom, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(motif), 5);
  if (title.empty()) {
    SetAtomProperty(display, window, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_SPLASH"});
    SetAtomProperty(display, window, "_NET_WM_STATE",
                    {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"});
    return;
  }
  SetAtomProperty(display, window, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_NORMAL"});
  xlib.StoreName(display, window, title.c_str());
  xlib.ChangeProperty(display, window, xlib.InternAtom(display, "_NET_WM_NAME", False),
                      xlib.InternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(title.data()),
                      static_cast<int>(title.size()));
}

XImage* MakeImage(Display* display, const Picture& picture) {
  const int screen = DefaultScreen(display);
  if (DefaultDepth(display, screen) < 24) return nullptr;
  const std::size_t bytes = picture.pixels.size() * 4;
  // The image frees its data with free() when it is destroyed.
  char* data = static_cast<char*>(std::malloc(bytes > 0 ? bytes : 1));
  if (data == nullptr) return nullptr;
  std::memcpy(data, picture.pixels.data(), bytes);
  XImage* image = X11().CreateImage(display, DefaultVisual(display, screen),
                                    static_cast<unsigned>(DefaultDepth(display, screen)), ZPixmap,
                                    0, data, static_cast<unsigned>(picture.width),
                                    static_cast<unsigned>(picture.height), 32, 0);
  if (image == nullptr) std::free(data);
  return image;
}

void TakeRequests(X11Splash& splash) {
  char drain[64];
  while (::read(splash.wake[0], drain, sizeof drain) > 0) {
  }
  std::lock_guard<Mutex> guard(splash.lock);
  if (splash.timer_requested) {
    splash.timer_requested = false;
    splash.timer_running = splash.timer_delay >= 0;
    if (splash.timer_running) splash.timer_due = Clock::now() + std::chrono::milliseconds(splash.timer_delay);
  }
  if (splash.close_requested) Close(splash);
}

void HandleEvents(X11Splash& splash) {
  const X11Library& x = X11();
  while (!splash.closed && x.Pending(splash.display) > 0) {
    XEvent event;
    x.NextEvent(splash.display, &event);
    if (event.type == Expose && event.xexpose.count == 0) {
      Paint(splash);
    } else if (event.type == MapNotify) {
      // The new splash takes the keyboard, as a newly shown window does, so
      // that a key press can close it.
      x.SetInputFocus(splash.display, splash.window, RevertToParent, CurrentTime);
    } else if (event.type == KeyPress) {
      Close(splash);
    }
    // Mouse clicks neither close nor move the splash.
  }
}

}  // namespace

bool StartDetachedThread(ThreadProcedure procedure, void* argument) {
  DetachedStart* start = new DetachedStart{procedure, argument};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const bool started = pthread_create(&thread, &attributes, DetachedTrampoline, start) == 0;
  pthread_attr_destroy(&attributes);
  if (!started) delete start;
  return started;
}

void LowerThreadPriority() {
  // Threads of the ordinary policy have one static priority; a higher nice
  // value of the calling thread is the lowest priority there is.
  if (::nice(19) == -1) {
    // Not allowed to change: the thread keeps its priority.
  }
}

void YieldToOtherThreads() { ::sched_yield(); }

bool FindDataResource(unsigned, const unsigned char*&, std::size_t&) { return false; }

SplashPicture LoadBitmapResource(unsigned) { return nullptr; }

SplashPicture MakeSplashPicture(int width, int height, const std::uint32_t* pixels) {
  if (width <= 0 || height <= 0) return nullptr;
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  return new Picture{width, height, std::vector<std::uint32_t>(pixels, pixels + count)};
}

void FreeSplashPicture(SplashPicture picture) { delete static_cast<Picture*>(picture); }

SplashWindowRef OpenSplashWindow(SplashPicture raw_picture, const std::string& title) {
  const X11Library& x = X11();
  const Picture* picture = static_cast<const Picture*>(raw_picture);
  if (!x.loaded || picture == nullptr) return nullptr;
  Display* display = x.OpenDisplay(nullptr);
  if (display == nullptr) return nullptr;
  X11Splash* splash = new X11Splash;
  splash->display = display;
  splash->image = MakeImage(display, *picture);
  if (splash->image == nullptr || ::pipe2(splash->wake, O_NONBLOCK | O_CLOEXEC) != 0) {
    ReleaseSplashWindow(splash);
    return nullptr;
  }
  const int screen = DefaultScreen(display);
  // Signed division: a picture larger than the screen is still centred, at
  // negative coordinates.
  const int left = (DisplayWidth(display, screen) - picture->width) / 2;
  const int top = (DisplayHeight(display, screen) - picture->height) / 2;
  XSetWindowAttributes attributes = {};
  attributes.override_redirect = title.empty() ? True : False;
  attributes.event_mask = ExposureMask | KeyPressMask | ButtonPressMask | StructureNotifyMask;
  attributes.background_pixel = 0;
  splash->window = x.CreateWindow(display, RootWindow(display, screen), left, top,
                                  static_cast<unsigned>(picture->width),
                                  static_cast<unsigned>(picture->height), 0, CopyFromParent,
                                  InputOutput, CopyFromParent,
                                  CWOverrideRedirect | CWEventMask | CWBackPixel, &attributes);
  if (splash->window == 0) {
    ReleaseSplashWindow(splash);
    return nullptr;
  }
  DescribeToWindowManager(display, splash->window, title, left, top, picture->width,
                          picture->height);
  splash->gc = x.CreateGC(display, splash->window, 0, nullptr);
  x.MapRaised(display, splash->window);
  x.Flush(display);
  // The first paint happens here, as a shown window paints at once, so the
  // picture is on the screen before the thread's priority drops.
  const auto give_up = Clock::now() + std::chrono::seconds(2);
  while (!splash->painted && !splash->closed && Clock::now() < give_up) {
    HandleEvents(*splash);
    if (splash->painted || splash->closed) break;
    pollfd connection = {ConnectionNumber(display), POLLIN, 0};
    ::poll(&connection, 1, 50);
  }
  return splash;
}

void RunSplashWindow(SplashWindowRef raw) {
  X11Splash& splash = *static_cast<X11Splash*>(raw);
  const int connection = ConnectionNumber(splash.display);
  while (!splash.closed) {
    HandleEvents(splash);
    if (splash.closed) break;
    int wait = -1;
    if (splash.timer_running) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(splash.timer_due - Clock::now());
      if (left.count() <= 0) {
        Close(splash);
        break;
      }
      wait = static_cast<int>(left.count()) + 1;
    }
    pollfd watched[2] = {{connection, POLLIN, 0}, {splash.wake[0], POLLIN, 0}};
    if (::poll(watched, 2, wait) < 0) continue;
    if (watched[1].revents != 0) TakeRequests(splash);
    if ((watched[0].revents & (POLLERR | POLLHUP)) != 0) break;  // the server went away
  }
}

void ReleaseSplashWindow(SplashWindowRef raw) {
  X11Splash* splash = static_cast<X11Splash*>(raw);
  if (splash == nullptr) return;
  const X11Library& x = X11();
  if (splash->window != 0 && !splash->closed) Close(*splash);
  if (splash->gc != nullptr) x.FreeGC(splash->display, splash->gc);
  if (splash->image != nullptr) XDestroyImage(splash->image);
  if (splash->display != nullptr) x.CloseDisplay(splash->display);
  for (int end : splash->wake)
    if (end >= 0) ::close(end);
  delete splash;
}

void* SplashWindowSystemHandle(SplashWindowRef) {
  // Message boxes have no owner window here: they go to standard error.
  return nullptr;
}

void ForwardSplashTimer(SplashWindowRef raw, int milliseconds) {
  X11Splash& splash = *static_cast<X11Splash*>(raw);
  std::lock_guard<Mutex> guard(splash.lock);
  splash.timer_requested = true;
  splash.timer_delay = milliseconds;
  Wake(splash);
}

void PostSplashClose(SplashWindowRef raw) {
  X11Splash& splash = *static_cast<X11Splash*>(raw);
  std::lock_guard<Mutex> guard(splash.lock);
  splash.close_requested = true;
  Wake(splash);
}

}  // namespace nxo::platform
