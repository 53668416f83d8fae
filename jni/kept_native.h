// The mark every JNI native that the executable provides carries.
#pragma once

// On Windows only the export list generated from natives/natives.def.h
// names the natives, and the link-time optimiser does not count a name in
// that list as a use: an unmarked native that nothing in the program calls
// is dropped, or kept under a private name, and its export then points at
// nothing. Marked, each stays whole under its own name on every target.
// (Clang, which builds the fuzzers, has no externally_visible and needs it
// for no build of ours.)
#if defined(__clang__)
#define NXO_KEPT_NATIVE __attribute__((used))
#else
#define NXO_KEPT_NATIVE __attribute__((used, externally_visible))
#endif
