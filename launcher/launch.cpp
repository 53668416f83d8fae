#include "launcher/launch.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "config/keys.h"
#include "config/launch_config.h"
#include "jni/jni_helpers.h"
#include "launcher/command_line.h"
#include "launcher/jni_util.h"
#include "launcher/messages.h"
#include "launcher/startup_context.h"
#include "natives/natives.h"
#include "natives/predefined_classes.h"
#include "platform/platform.h"
#include "runtime/class_data_sharing.h"
#include "runtime/class_path.h"
#include "runtime/java_layout.h"
#include "runtime/jre_search.h"
#include "splash/splash.h"
#include "support/never_destroyed.h"
#include "support/text.h"
#include "support/trail.h"

namespace nxo::launcher {

namespace {

using config::LookupScope;
using config::ValueForm;

// How long the splash stays once the JVM runs, and once main has returned;
// an application that closes it with its first window is given time to open
// one.
constexpr int kSplashAfterLaunchMs = 1750;
constexpr int kSplashAfterMainMs = 750;
constexpr int kSplashAwaitingWindowMs = 30000;

// The one mapping from the runtime's outcome to the launch's result codes,
// which are message numbers.
struct RuntimeFailure {
  runtime::JvmStatus status;
  int code;
};
constexpr RuntimeFailure kRuntimeFailures[] = {
    {runtime::kJvmOk, kLaunchOk},
    {runtime::kJvmLibraryInvalid, kRuntimeInvalid},
    {runtime::kJvmCreationFailed, kCreationFailed},
};

int LaunchCodeOf(runtime::JvmStatus status) {
  for (const RuntimeFailure& failure : kRuntimeFailures)
    if (failure.status == status) return failure.code;
  return kCreationFailed;
}

StringList Collect(const config::LaunchConfig& config, const char* key, ValueForm form) {
  StringList values;
  config.CollectValues(key, values, LookupScope::kWholeText, form);
  return values;
}

// The export lines go into the environment before the runtime is loaded. An
// inherited JAVA_TOOL_OPTIONS is removed unless the configuration sets it,
// so the runtime sees only what the configuration asks for.
void ApplyExports(const config::LaunchConfig& config) {
  // Taken as UTF-8, so that the wide environment of Windows gets every
  // character the line holds.
  StringList exports = Collect(config, "export", ValueForm::kUtf8);
  bool tool_options_set = false;
  for (std::size_t i = 0; i < exports.Size(); ++i) {
    std::string_view value = exports.View(i);
    std::string_view::size_type equals = value.find('=');
    if (equals == std::string_view::npos) continue;
    platform::PutEnvironmentUtf8(std::string(value));
    if (EqualsIgnoreCase(value.substr(0, equals), "JAVA_TOOL_OPTIONS")) tool_options_set = true;
  }
  if (!tool_options_set) platform::PutEnvironment("JAVA_TOOL_OPTIONS=");
}

void ReportFailure(const MessageCatalogue& messages, int code, const std::string& version,
                   const std::string& min_jre, const std::string& max_jre) {
  std::string text = messages.Text(static_cast<unsigned>(code));
  if (code == kVersionTooLow || code == kVersionTooHigh) {
    const std::string format = messages.FormatText(static_cast<unsigned>(code));
    text = FormatMessageText(format.c_str(), version.c_str(), min_jre.c_str(), max_jre.c_str(), "", "");
  }
  ShowMessage(messages, text);
}

// Where the running executable cannot be loaded as a library (Linux), the
// launcher binds the natives itself and tells the support classes so.
void BindLauncherNatives(JNIEnv* env) {
  if (runtime::BindNativesByRegistration()) natives::RegisterLauncherNatives(env);
}

// The configured arguments are UTF-8 (taken from the configuration as
// such, so that no character is lost to the ANSI code page); the command
// line's are ANSI.
jni::LocalRef<jobjectArray> BuildJavaArguments(JNIEnv* env, const std::vector<char*>& configured,
                                               int argument_count, char** arguments) {
  const jni::LocalRef<jclass> string_class = jni::FindClass(env, "java/lang/String");
  if (!string_class) return {};
  const jsize total = static_cast<jsize>(configured.size()) + argument_count;
  jni::LocalRef<jobjectArray> array(env, env->NewObjectArray(total, string_class.get(), nullptr));
  jsize index = 0;
  auto store = [&](const std::u16string& wide) {
    const jni::LocalRef<jstring> element = jni::NewString(env, wide);
    env->SetObjectArrayElement(array.get(), index++, element.get());
  };
  if (array) {
    for (char* text : configured) store(DecodeUtf8(text));
    for (int i = 0; i < argument_count; ++i) store(AnsiToWide(arguments[i]));
  }
  return array;
}

// The plan of this process's one launch, kept until exit: the archive the
// JVM writes is published after the JVM is gone.
NeverDestroyed<runtime::SharingPlan> process_sharing_plan;

runtime::SharingPlan& ProcessSharingPlan() { return process_sharing_plan.get(); }

// The executable a training start runs (this one), and where: the directory
// this process started in, so that it finds the same runtime ("forcecwd" has
// moved this process since).
NeverDestroyed<std::string> process_executable;
NeverDestroyed<std::string> process_start_directory;

void PublishAtExit() {
  runtime::FinishSharingPlan(ProcessSharingPlan(), process_executable.get(), process_start_directory.get());
}

}  // namespace

void AppendClassDataSharingOptions(const StartupContext& context, const StringList& configured_options,
                                   const std::string& library, runtime::JvmHost& host) {
  const config::LaunchConfig& config = context.config;
  if (config::keys::ClassDataSharing(config) != config::ClassDataSharingMode::kAuto) return;
  // The launcher's loader as the system class loader ("assystemclassloader")
  // leaves the JVM nothing of the application's to map, and has it warn on
  // standard error at every start that hands it an archive.
  if (config::keys::AsSystemClassLoader(config)) {
    NXO_TRAIL("cds", "the launcher's loader is the system class loader; no archive");
    return;
  }
  const int feature = runtime::ReleaseFeatureVersion(runtime::ReadRuntimeRelease(library));
  const runtime::SharingMechanism mechanism = runtime::MechanismOfFeatureVersion(feature);
  NXO_TRAIL("cds", "runtime feature version %d", feature);
  if (mechanism == runtime::SharingMechanism::kNone) return;
  const std::string cache = runtime::UserCacheDirectory();
  if (cache.empty()) return;
  runtime::SharingPlan& plan = ProcessSharingPlan();
  // The key covers what the JVM checks an archive against: the class path
  // and the configured options among it.
  static constexpr std::string_view kClassPathOption = "-Djava.class.path=";
  std::string class_path;
  for (std::size_t i = 0; i < host.options.Size(); ++i) {
    const std::string_view option = host.options.View(i);
    if (option.substr(0, kClassPathOption.size()) == kClassPathOption)
      class_path = option.substr(kClassPathOption.size());
  }
  std::string options_text;
  for (std::size_t i = 0; i < configured_options.Size(); ++i)
    options_text.append(configured_options.View(i)).push_back('\n');
  const std::string directory = runtime::SharingDirectory(cache, config.ExecutablePath());
  const std::string key = runtime::SharingKey(config.ExecutablePath(), library, class_path, options_text);
  plan = runtime::PlanClassDataSharing(
      mechanism, directory, key, configured_options, context.training_lists,
      context.dumps_base ? runtime::TrainingStep::kBaseDump : runtime::TrainingStep::kBaseFirst);
  if (!plan.base_to_dump.empty()) {
    runtime::DumpBaseArchive(plan, config.ExecutablePath(), context.start_directory);
    plan = runtime::PlanClassDataSharing(mechanism, directory, key, configured_options, context.training_lists,
                                         runtime::TrainingStep::kTopOnly);
  }
  for (const std::string& option : plan.options) host.options.Append(option);
  process_executable.get() = config.ExecutablePath();
  process_start_directory.get() = context.start_directory;
  // Only a training start writes an archive, and only a recording start
  // leaves one behind.
  if (!plan.recorded_lists.empty() || !plan.training_lists.empty()) std::atexit(PublishAtExit);
}

void PublishClassDataArchive() { PublishAtExit(); }

int ScanVersion(const std::string& text, VersionComponents& components) {
  // As the scan format "%d%[^0-9]%d%[^0-9]%d%[^0-9]%d" reads it: white space
  // and a sign may precede the first number; after that, runs of non-digits
  // separate the numbers. The numbers are kept as digit text, so a component
  // of any length compares by its value and none can wrap.
  std::size_t at = 0;
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  int count = 0;
  while (count < 4) {
    const std::size_t digits = at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    if (at == digits) break;
    std::size_t first = digits;
    while (first + 1 < at && text[first] == '0') ++first;  // leading zeros say nothing
    components.value[count] = text.substr(first, at - first);
    components.negative[count] = negative && components.value[count] != "0";
    negative = false;
    ++count;
    // A number needs a separator run after it for the next one to count.
    const std::size_t separators = at;
    while (at < text.size() && !std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    if (at == separators || at == text.size()) break;
  }
  components.count = count;
  return count;
}

int ScanVersion(const std::string& text, int components[4]) {
  VersionComponents scanned;
  const int count = ScanVersion(text, scanned);
  for (int i = 0; i < count; ++i) {
    const std::string& digits = scanned.value[i];
    long long value = INT_MAX;
    if (digits.size() <= 10) std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (value > INT_MAX) value = INT_MAX;
    components[i] = static_cast<int>(scanned.negative[i] ? -value : value);
  }
  return count;
}

int CompareVersionComponent(const VersionComponents& a, const VersionComponents& b, int index) {
  const bool a_negative = a.negative[index], b_negative = b.negative[index];
  if (a_negative != b_negative) return a_negative ? -1 : 1;
  const std::string& x = a.value[index];
  const std::string& y = b.value[index];
  int magnitude = x.size() != y.size() ? (x.size() < y.size() ? -1 : 1) : x.compare(y);
  if (magnitude != 0) magnitude = magnitude < 0 ? -1 : 1;
  return a_negative ? -magnitude : magnitude;
}

int CheckVersionBounds(const std::string& version, const std::string& min_jre,
                       const std::string& max_jre) {
  VersionComponents have, low, high;
  const int have_count = ScanVersion(version, have);
  const int low_count = ScanVersion(min_jre, low);
  // A bound that starts with no number sets no bound.
  if (low_count == 0 && !min_jre.empty())
    NXO_TRAIL("jvm", "minjre \"%s\" ignored: it does not start with a number", min_jre.c_str());
  for (int i = 0; i < (low_count < have_count ? low_count : have_count); ++i) {
    const int order = CompareVersionComponent(have, low, i);
    if (order < 0) return kVersionTooLow;
    if (order > 0) break;
  }
  const int high_count = ScanVersion(max_jre, high);
  if (high_count == 0 && !max_jre.empty())
    NXO_TRAIL("jvm", "maxjre \"%s\" ignored: it does not start with a number", max_jre.c_str());
  for (int i = 0; i < (high_count < have_count ? high_count : have_count); ++i) {
    const int order = CompareVersionComponent(have, high, i);
    if (order > 0) return kVersionTooHigh;
    if (order < 0) break;
  }
  return kLaunchOk;
}

void AppendLauncherOptions(const config::LaunchConfig& config, runtime::JvmHost& host) {
  host.options.Append("-Djava.class.path=" +
                      runtime::BuildClassPath(config, runtime::ClassPathKind::kJvm));
  host.options.Append("-Dnxo.class.path=" +
                      runtime::BuildClassPath(config, runtime::ClassPathKind::kExtra));
  host.options.Append("-Dnxo.app.path=" + config.ExecutablePath());
  host.options.Append("-Dapplication.home=" + config.ApplicationDirectory());
  if (config::keys::AsSystemClassLoader(config)) {
    host.options.Append("-Djava.protocol.handler.pkgs=com.tarnwick");
    host.options.Append("-Djava.system.class.loader=com.tarnwick.nxo.KestrelClassLoader");
  }
  if (platform::ProcessIsElevated() == true) host.options.Append("-Dnxo.is.elevated=true");
}

namespace {

// Anything that may add classes the class loader cannot see coming. Matched
// anywhere in an option or an option variable, so that a false alarm only
// costs speed.
constexpr std::string_view kParentChangingOptions[] = {
    "-javaagent", "-agentlib", "-agentpath", "-Xrun", "-Xbootclasspath",
    "--patch-module", "-XX:VMOptionsFile", "-XX:Flags",
};

bool MayChangeParentClasses(std::string_view text) {
  for (std::string_view option : kParentChangingOptions)
    if (text.find(option) != std::string_view::npos) return true;
  return false;
}

bool AnyLineStartsWith(const StringList& lines, std::string_view prefix) {
  for (std::size_t i = 0; i < lines.Size(); ++i)
    if (lines.View(i).substr(0, prefix.size()) == prefix) return true;
  return false;
}

// Whether the start path's support classes are defined from the payload:
// in starts whose JVM maps no class-data archive of the launcher's and
// records none (an archive holds only classes the system loader read from
// its class path), and not when the launcher's loader is the system class
// loader, which the JVM has loaded before the launcher has a say. Nor under
// a security manager: classes defined so have no code source, and with it
// every permission, where the policy would have granted the executable's.
bool PredefinesSupportClasses(const config::LaunchConfig& config,
                              const StringList& configured_options) {
  return !AnyLineStartsWith(configured_options, "-Djava.security.manager") &&
         !config::keys::AsSystemClassLoader(config) && ProcessSharingPlan().options.empty() &&
         !runtime::ConfigurationDecidesSharing(configured_options);
}

}  // namespace

std::string ParentKnownOption(const StringList& configured_options) {
  for (std::size_t i = 0; i < configured_options.Size(); ++i)
    if (MayChangeParentClasses(configured_options.View(i))) return std::string();
  for (const char* variable : {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"}) {
    const std::optional<std::string> value = platform::GetEnvironment(variable);
    if (value && MayChangeParentClasses(*value)) return std::string();
  }
  return "-Dnxo.parent.known=true";
}

// The JDK's own launcher names the process in "sun.java.command": the main
// class and its arguments, which jps, jcmd and monitoring tools show. The
// launcher class is not the application's, so the configured main class is
// named instead; an option line that sets the property itself is left alone.
std::string JavaCommandOption(const StringList& configured_options, const std::string& main_class,
                              const StringList& argument_lines, int argument_count, char** arguments) {
  static constexpr std::string_view kProperty = "-Dsun.java.command=";
  if (AnyLineStartsWith(configured_options, kProperty)) return std::string();
  std::string option = std::string(kProperty) + main_class;
  std::vector<std::string> line_copies;
  for (std::size_t i = 0; i < argument_lines.Size(); ++i) line_copies.emplace_back(argument_lines.View(i));
  std::vector<char*> configured;
  for (std::string& line : line_copies) SplitArguments(configured, line.data(), nullptr);
  for (const char* argument : configured) option.append(" ").append(argument);
  for (int i = 0; i < argument_count; ++i) option.append(" ").append(arguments[i]);
  return option;
}

int InvokeStartClass(JNIEnv* env, const std::string& main_class, const StringList& configured_lines,
                     int argument_count, char** arguments) {
  const jni::LocalRef<jclass> launcher_class = jni::FindClass(env, kStartClassName);
  if (!launcher_class) {
    jni::CheckException(env, true);
    return kStartClassMissing;
  }
  // A launcher class without the field is as unusable as a missing one.
  jfieldID start_class =
      env->GetStaticFieldID(launcher_class.get(), "startClass", "Ljava/lang/String;");
  if (start_class == nullptr) {
    jni::CheckException(env, true);
    return kStartClassMissing;
  }
  {
    const jni::LocalRef<jstring> main_class_name = jni::NewString(env, AnsiToWide(main_class));
    env->SetStaticObjectField(launcher_class.get(), start_class, main_class_name.get());
  }
  jmethodID main = env->GetStaticMethodID(launcher_class.get(), "main", "([Ljava/lang/String;)V");
  if (main == nullptr) {
    jni::CheckException(env, true);
    return kMainMissing;
  }

  // Each configured line is split like a command line, in place.
  std::vector<std::string> line_copies;
  for (std::size_t i = 0; i < configured_lines.Size(); ++i)
    line_copies.emplace_back(configured_lines.View(i));
  std::vector<char*> configured;
  for (std::string& line : line_copies) SplitArguments(configured, line.data(), nullptr);

  const jni::LocalRef<jobjectArray> java_arguments =
      BuildJavaArguments(env, configured, argument_count, arguments);
  env->CallStaticVoidMethod(launcher_class.get(), main, java_arguments.get());
  // What main throws (the application's own failure, or the launcher class's:
  // no such main class, an unreadable archive) is printed by the runtime and
  // ends the process with a failure, as the java command does.
  return jni::CheckException(env, true) ? kMainThrew : kLaunchOk;
}

int LaunchJava(StartupContext& context, int argument_count, char** arguments,
               StartupHookFunction startup_hook) {
  const config::LaunchConfig& config = context.config;
  runtime::JvmHost& host = context.host;
  const std::string min_jre = config::keys::MinJre(config);
  const std::string max_jre = config::keys::MaxJre(config);
  std::string version;

  ApplyExports(config);
  StringList options = Collect(config, "option", ValueForm::kAnsi);
  for (std::size_t i = 0; i < options.Size(); ++i) host.options.Append(options.View(i));
  AppendLauncherOptions(config, host);
  const std::string parent_known = ParentKnownOption(options);
  if (!parent_known.empty()) host.options.Append(parent_known);
  const std::string java_command =
      JavaCommandOption(options, config::keys::MainClass(config), Collect(config, "argv", ValueForm::kAnsi),
                        argument_count, arguments);
  if (!java_command.empty()) host.options.Append(java_command);

  int result = kLaunchOk;
  const std::string library = context.runtime.Locate(config);
  if (library.empty()) {
    NXO_TRAIL("jvm", "no runtime library");
    result = kNoRuntime;
  } else {
    NXO_TRAIL("jvm", "library %s", library.c_str());
    AppendClassDataSharingOptions(context, options, library, host);
    // A training start that has nothing to train from (lists of another
    // build, or an archive already there) runs no JVM, and certainly not
    // the application.
    if (!context.training_lists.empty() && ProcessSharingPlan().training_lists.empty() &&
        !ProcessSharingPlan().dumps_base) {
      NXO_TRAIL("cds", "nothing to train");
      return kLaunchOk;
    }
    if (trail::On()) {
      for (std::size_t i = 0; i < host.options.Size(); ++i)
        trail::Line("jvm", "option %llu: %s", static_cast<unsigned long long>(i + 1),
                    host.options.At(i));
    }
    result = LaunchCodeOf(runtime::CreateJavaVm(host, library));
    NXO_TRAIL("jvm", "creation result %d", result);
    // A JVM that dumps an archive ends the process once it has written it;
    // one that returns wrote none, and runs nothing here.
    if (result == kLaunchOk && ProcessSharingPlan().dumps_base) return kCreationFailed;
  }

  if (result == kLaunchOk) {
    JNIEnv* env = host.env;
    if (!ProcessSharingPlan().archive.empty())
      runtime::CheckArchiveTaken(ProcessSharingPlan(),
                                 WideToAnsi(jni::GetSystemProperty(env, "java.vm.info").value_or(u"")));
    if (PredefinesSupportClasses(config, options)) natives::PredefineSupportClasses(env, config);
    BindLauncherNatives(env);
    StringList properties = Collect(config, "property", ValueForm::kUtf8);
    for (std::size_t i = 0; i < properties.Size(); ++i) SetJavaProperty(env, properties.View(i));

    if (!min_jre.empty() || !max_jre.empty()) {
      if (!QueryJavaVersion(env, version))
        result = kVersionUnreadable;
      else
        result = CheckVersionBounds(version, min_jre, max_jre);
      NXO_TRAIL("jvm", "java.version \"%s\" against [%s, %s]: result %d", version.c_str(),
                min_jre.c_str(), max_jre.c_str(), result);
    }
  }

  if (result == kLaunchOk) {
    JNIEnv* env = host.env;
    if (!config::keys::AsSystemClassLoader(config)) AppendProtocolHandlerPackage(env);
    if (startup_hook != nullptr) startup_hook(context);
    const bool close_on_window =
        context.training_lists.empty() && config::keys::SplashCloseOnWindow(config);
    if (close_on_window) splash::InstallSplashCloseOnWindow(env);
    splash::ApplyLaunchClosePolicy(close_on_window ? kSplashAwaitingWindowMs : kSplashAfterLaunchMs);
    StringList argument_lines = Collect(config, "argv", ValueForm::kUtf8);
    NXO_TRAIL("jvm", "calling the start class's main");
    result = InvokeStartClass(env, config::keys::MainClass(config), argument_lines, argument_count,
                              arguments);
    splash::ApplyMainReturnedClosePolicy(close_on_window ? kSplashAwaitingWindowMs
                                                         : kSplashAfterMainMs);
  }

  NXO_TRAIL("jvm", "launch result %d", result);
  // The runtime has described an exception out of main; no box repeats it.
  if (result == kMainThrew) return kMainThrewExitCode;
  if (result != kLaunchOk && context.training_lists.empty())
    ReportFailure(context.messages, result, version, min_jre, max_jre);
  return result;
}

}  // namespace nxo::launcher
