// The launch: prepares the environment, collects the JVM options, creates
// the JVM, checks its version and calls the start class.
#pragma once

#include <jni.h>

#include <string>

#include "config/launch_config.h"
#include "runtime/jvm_host.h"
#include "support/string_list.h"

namespace nxo::launcher {

// Result codes of the launch; each equals the number of the message shown.
inline constexpr int kLaunchOk = 0;
inline constexpr int kNoRuntime = 1;
inline constexpr int kRuntimeInvalid = 2;
inline constexpr int kCreationFailed = 4;
inline constexpr int kVersionUnreadable = 5;
inline constexpr int kVersionTooLow = 6;
inline constexpr int kStartClassMissing = 7;
inline constexpr int kMainMissing = 8;
inline constexpr int kVersionTooHigh = 12;
// An exception came out of the start class's main. Not a message number:
// nothing is shown, and the launch ends with kMainThrewExitCode, which is what
// the java command exits with then.
inline constexpr int kMainThrew = 0x100;
inline constexpr int kMainThrewExitCode = 1;

inline constexpr const char* kStartClassName = "com.tarnwick.nxo.KestrelLauncher";

struct StartupContext;

// Called once the JVM exists and its version is accepted (console/ ties the
// standard streams and the interrupts to it).
using StartupHookFunction = void (*)(StartupContext& context);

// Runs the launch with the context's configuration, runtime and JVM host.
// |arguments| excludes the program name. Failures are shown before the code
// returns.
int LaunchJava(StartupContext& context, int argument_count, char** arguments,
               StartupHookFunction startup_hook);

// Stores |main_class| in the launcher class's startClass field and calls its
// main with the configured argument lines (UTF-8) followed by the arguments
// (ANSI): 0, 7, 8 or kMainThrew.
int InvokeStartClass(JNIEnv* env, const std::string& main_class, const StringList& configured_lines,
                     int argument_count, char** arguments);

// Up to four version components, each the digits of one number without
// leading zeros ("0" for zero), and whether it was written with a minus.
struct VersionComponents {
  int count = 0;
  std::string value[4];
  bool negative[4] = {false, false, false, false};
};

// The version components a text starts with: up to four numbers separated by
// runs of non-digits; an empty or non-numeric text has none. Numbers of any
// length are kept whole. Returns the count.
int ScanVersion(const std::string& text, VersionComponents& components);

// The same as numbers, each held to the range of an int (a component too
// large for one reads as INT_MAX); for callers that want numbers.
int ScanVersion(const std::string& text, int components[4]);

// -1, 0 or 1 as component |index| of |a| is below, equal to or above that of |b|.
int CompareVersionComponent(const VersionComponents& a, const VersionComponents& b, int index);

// 0 when |version| meets both bounds; else kVersionTooLow or kVersionTooHigh.
int CheckVersionBounds(const std::string& version, const std::string& min_jre,
                       const std::string& max_jre);

// The options the launch adds after the configured "option" lines, in order.
void AppendLauncherOptions(const config::LaunchConfig& config, runtime::JvmHost& host);

// "-Dnxo.parent.known=true" when neither the configured options nor the
// option variables the JVM reads (JAVA_TOOL_OPTIONS, _JAVA_OPTIONS) hold
// anything that adds classes to the application loader's parent beside the
// JVM's class path and the runtime's modules: an agent, the boot class path,
// a patched module, an option file. Empty otherwise.
std::string ParentKnownOption(const StringList& configured_options);

// The last JVM option: "-Dsun.java.command=" with the main class and the
// arguments main receives, separated by spaces; empty when one of the
// configured options already sets that property.
std::string JavaCommandOption(const StringList& configured_options, const std::string& main_class,
                              const StringList& argument_lines, int argument_count, char** arguments);

// With "classdatasharing auto": the options that hand the JVM the
// application's class-data archive, or have it record the classes it loads
// for a training start (or, in the training start of the context's
// training lists, write the archive at exit), for the runtime of |library|;
// they go after every other option. Empty when the runtime has no mechanism
// or the cache cannot be used.
void AppendClassDataSharingOptions(const StartupContext& context, const StringList& configured_options,
                                   const std::string& library, runtime::JvmHost& host);

// Publishes the archive a training start's JVM wrote at exit, or starts the
// training start after a start that recorded its classes. Called once
// DestroyJavaVM has returned, and from the C runtime's exit, which the JVM
// calls on System.exit after writing the archive and the lists; the second
// call finds nothing.
void PublishClassDataArchive();

}  // namespace nxo::launcher
