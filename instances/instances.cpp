#include "instances/instances.h"

namespace nxo::instances {

bool SingleInstanceLock() { return true; }

void StartMessaging() {}

}  // namespace nxo::instances
