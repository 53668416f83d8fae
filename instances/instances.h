// Running instances of one application, as start-up sees them.
//
// Only the seam exists so far: no instance table is kept, the single-instance
// lock is always granted and no messaging thread starts.
#pragma once

namespace nxo::instances {

// Takes the single-instance lock; false when another instance holds it.
bool SingleInstanceLock();

// Starts delivery of objects sent by other instances (once per process).
void StartMessaging();

}  // namespace nxo::instances
