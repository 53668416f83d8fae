#include "splash/splash.h"

namespace nxo::splash {

void* SplashWindowHandle() { return nullptr; }

void RequestSplashClose(int) {}

}  // namespace nxo::splash
