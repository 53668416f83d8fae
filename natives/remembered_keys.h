// The configuration switches of the class-loading natives. Each is read at
// the first call that needs it and remembered for the life of the process, so
// a configuration published later (or changed) has no effect on it.
#pragma once

namespace nxo::natives {

// "compatible" (embedded configuration only) equals "true", case ignored.
bool CompatibleOn();
// "fakeclassbytes" equals "false", case ignored.
bool FakeClassBytesOff();
// "usejarprotocol" equals "false", case ignored.
bool UseJarProtocolOff();

// Forgets the remembered values so the next call reads the configuration
// again; tests only.
void ForgetRememberedKeysForTesting();

}  // namespace nxo::natives
