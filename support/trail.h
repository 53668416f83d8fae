// The diagnostic trail: one line per launcher decision, written when the
// environment variable NXO_TRACE names a file (or is "-" for standard error),
// so that "why doesn't my application start?" has an answer.
//
// Every line reads "<microseconds> <area>: <text>", the time counted from the
// launcher's start. Subsystems write through NXO_TRAIL, which evaluates its
// arguments only when the trail is on: with the variable unset a call costs
// one test of a flag, with no formatting and no allocation.
//
//   NXO_TRAIL("search", "candidate %s: %s", path.c_str(), reason);
//
// Areas in use: "start", "config", "search", "jvm", "splash", "console",
// "instances", "exit". `nxo inspect --check-runtime` prints the "search"
// lines.
#pragma once

#include "support/format.h"

namespace nxo::trail {

namespace detail {
extern bool on;
}  // namespace detail

// The name of the environment variable that turns the trail on.
inline constexpr const char* kVariable = "NXO_TRACE";

// Whether lines are written. Cheap enough to test anywhere.
inline bool On() { return detail::on; }

// Turns the trail on when NXO_TRACE is set and not empty: "-" writes to
// standard error, anything else is a file opened for appending. Later calls
// do nothing. A file that cannot be opened leaves the trail off.
void OpenFromEnvironment();

// Turns the trail on towards |destination| ("-" or a file path), replacing
// any earlier one. False (and the trail off) when the file cannot be opened.
bool OpenDestination(const char* destination);

// Writes one line: the time since start, |area|, ": " and the formatted
// text. Does nothing while the trail is off. Safe from any thread: each line
// goes out whole and is flushed at once.
void Line(const char* area, const char* format, ...) NXO_PRINTF_FORMAT(2, 3);

// The clock lines are stamped with: microseconds since the process started.
// The launcher passes the platform's monotonic one before it opens the trail
// (this folder knows no operating system); until then lines carry 0. Not
// std::chrono: MinGW's library clock brings the C++ exception runtime into
// the Windows stubs.
using Clock = unsigned long long (*)();
void UseClock(Clock microseconds_since_start);

// Microseconds since the launcher started (its static initialisation, just
// before main), by the clock in use; 0 without one.
unsigned long long MicrosecondsSinceStart();

// Turns the trail off and closes its file. For tests and tools; a launcher
// keeps its trail until the process ends, since other threads may still write.
void Close();

}  // namespace nxo::trail

// Writes a trail line; the arguments are not evaluated while the trail is off.
#define NXO_TRAIL(...)                                         \
  do {                                                         \
    if (::nxo::trail::On()) ::nxo::trail::Line(__VA_ARGS__);   \
  } while (false)
