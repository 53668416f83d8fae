// The splash screen, as the rest of the launcher sees it.
//
// The native splash window is not there yet: there is never a window, so
// message boxes have no owner and close requests do nothing.
#pragma once

#include <jni.h>

#include <string>


namespace nxo::splash {

// The splash window's handle, or null when no splash is showing.
void* SplashWindowHandle();

// Schedules the splash to close after |milliseconds| (a negative delay
// cancels a pending close). Nothing happens without a splash.
void RequestSplashClose(int milliseconds);

// After JVM creation: unless the application has taken over the splash's
// closing, close it after |milliseconds|, and leave the choice open again.
void ApplyLaunchClosePolicy(int milliseconds);

// After the start class's main returned: the same, without resetting.
void ApplyMainReturnedClosePolicy(int milliseconds);

// Registers a com.tarnwick.nxo.SplashCloseOnWindow as AWT window-event
// listener. Failures are silent.
void InstallSplashCloseOnWindow(JNIEnv* env);

// The runtime's splash library beside |jvm_library| (the one the search
// chose), or "" when there is no runtime or no readable library.
std::string FindRuntimeSplashLibrary(const std::string& jvm_library);

}  // namespace nxo::splash
