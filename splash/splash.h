// The splash screen, as the rest of the launcher sees it: the launcher's own
// splash window with its close policy and natives, and the bridge that hands
// the picture to the Java runtime's own splash library.
//
// At start-up the runtime's splash library is preferred; only when the
// chosen runtime has none does the launcher open its own window, from the
// executable's bitmap resource 100 (or, on Linux, the bitmap the payload
// carries).
#pragma once

#include <jni.h>

#include <memory>
#include <string>

#include "config/launch_config.h"
#include "platform/platform.h"
#include "runtime/jvm_host.h"

namespace nxo::splash {

// The executable's resource id of the splash picture: bitmap 100 for the
// launcher's window, raw data 100 for the runtime's splash library.
inline constexpr unsigned kSplashResourceId = 100;

// How long start-up waits for the splash thread to show its window.
inline constexpr int kReadyWaitMilliseconds = 30000;

struct SplashWindow;

// Shows |picture| (which the splash owns from now on) in the launcher's own
// window on a thread of its own, titled |title| (empty: a tool window
// without a taskbar entry). Waits up to 30 s for the window, and returns the
// splash whether or not it came.
std::shared_ptr<SplashWindow> ShowSplash(platform::SplashPicture picture, const std::string& title);

// Whether the launcher's own splash window is showing.
bool SplashWindowShowing();

// The splash window's system handle (owner for message boxes), or null when
// no splash window is showing.
void* SplashWindowHandle();

// Closes the splash after |milliseconds|; a negative delay only cancels a
// pending close. Marks that a close was requested. Nothing happens without a
// splash window. Callable from any thread.
void RequestSplashClose(int milliseconds);

// Posts a close to the splash window; nothing without one.
void CloseSplash();

// After JVM creation: unless a close was already requested, close after
// |milliseconds|, and leave the choice open again for the application.
void ApplyLaunchClosePolicy(int milliseconds);

// After the start class's main returned: unless the application requested a
// close itself, close after |milliseconds|.
void ApplyMainReturnedClosePolicy(int milliseconds);

// Registers a com.tarnwick.nxo.SplashCloseOnWindow as AWT window-event
// listener. Failures are silent.
void InstallSplashCloseOnWindow(JNIEnv* env);

// The runtime's splash library beside |jvm_library| (the one the search
// chose), or "" when there is no runtime or no readable library.
std::string FindRuntimeSplashLibrary(const std::string& jvm_library);

// Loads |jvm_library| into |host| and then the splash library at |library|,
// and hands it the configured splash file or the executable's splash image.
// Every failure is silent.
void StartRuntimeSplash(const config::LaunchConfig& config, runtime::JvmHost& host,
                        const std::string& jvm_library, const std::string& library);

// The start-up step: the runtime's splash library when the runtime that the
// search chose (|jvm_library|) has one, else the launcher's own window when
// the executable carries a picture (returned), else nothing.
std::shared_ptr<SplashWindow> ShowStartupSplash(const config::LaunchConfig& config,
                                                runtime::JvmHost& host,
                                                const std::string& jvm_library);

}  // namespace nxo::splash
