// The launcher's own splash window, as the rest of the launcher sees it.
//
// Only the seam exists so far: there is never a splash window, so message
// boxes have no owner and close requests do nothing.
#pragma once

namespace nxo::splash {

// The splash window's handle, or null when no splash is showing.
void* SplashWindowHandle();

// Schedules the splash to close after |milliseconds| (a negative delay
// cancels a pending close). Nothing happens without a splash.
void RequestSplashClose(int milliseconds);

}  // namespace nxo::splash
