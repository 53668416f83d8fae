#include "launcher/launch.h"

#include <cstdio>
#include <vector>

#include "config/keys.h"
#include "config/launch_config.h"
#include "jni/jni_helpers.h"
#include "launcher/command_line.h"
#include "launcher/jni_util.h"
#include "launcher/messages.h"
#include "launcher/startup_context.h"
#include "natives/natives.h"
#include "platform/platform.h"
#include "runtime/class_path.h"
#include "runtime/java_layout.h"
#include "runtime/jre_search.h"
#include "splash/splash.h"
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
  StringList exports = Collect(config, "export", ValueForm::kAnsi);
  bool tool_options_set = false;
  for (std::size_t i = 0; i < exports.Size(); ++i) {
    std::string_view value = exports.View(i);
    std::string_view::size_type equals = value.find('=');
    if (equals == std::string_view::npos) continue;
    platform::PutEnvironment(std::string(value));
    if (EqualsIgnoreCase(value.substr(0, equals), "JAVA_TOOL_OPTIONS")) tool_options_set = true;
  }
  if (!tool_options_set) platform::PutEnvironment("JAVA_TOOL_OPTIONS=");
}

void ReportFailure(const MessageCatalogue& messages, int code, const std::string& version,
                   const std::string& min_jre, const std::string& max_jre) {
  std::string text = messages.Text(static_cast<unsigned>(code));
  if (code == kVersionTooLow || code == kVersionTooHigh)
    text = FormatMessageText(text.c_str(), version.c_str(), min_jre.c_str(), max_jre.c_str(), "", "");
  ShowMessage(messages, text);
}

// Where the running executable cannot be loaded as a library (Linux), the
// launcher binds the natives itself and tells the support classes so.
void BindLauncherNatives(JNIEnv* env) {
  if (runtime::BindNativesByRegistration()) natives::RegisterLauncherNatives(env);
}

jni::LocalRef<jobjectArray> BuildJavaArguments(JNIEnv* env, const std::vector<char*>& configured,
                                               int argument_count, char** arguments) {
  const jni::LocalRef<jclass> string_class = jni::FindClass(env, "java/lang/String");
  if (!string_class) return {};
  const jsize total = static_cast<jsize>(configured.size()) + argument_count;
  jni::LocalRef<jobjectArray> array(env, env->NewObjectArray(total, string_class.get(), nullptr));
  jsize index = 0;
  auto store = [&](const char* text) {
    const jni::LocalRef<jstring> element = jni::NewString(env, AnsiToWide(text));
    env->SetObjectArrayElement(array.get(), index++, element.get());
  };
  if (array) {
    for (char* text : configured) store(text);
    for (int i = 0; i < argument_count; ++i) store(arguments[i]);
  }
  return array;
}

}  // namespace

int ScanVersion(const std::string& text, int components[4]) {
  // The C runtime's scanf decides what a number and a separator are, so
  // versions compare exactly as they always have.
  std::vector<char> s1(text.size() + 1), s2(text.size() + 1), s3(text.size() + 1);
  int fields = std::sscanf(text.c_str(), "%d%[^0-9]%d%[^0-9]%d%[^0-9]%d", &components[0], s1.data(),
                           &components[1], s2.data(), &components[2], s3.data(), &components[3]);
  if (fields < 0) fields = 0;
  return (fields + 1) / 2;
}

int CheckVersionBounds(const std::string& version, const std::string& min_jre,
                       const std::string& max_jre) {
  int have[4] = {0, 0, 0, 0}, low[4] = {0, 0, 0, 0}, high[4] = {0, 0, 0, 0};
  const int have_count = ScanVersion(version, have);
  const int low_count = ScanVersion(min_jre, low);
  for (int i = 0; i < (low_count < have_count ? low_count : have_count); ++i) {
    if (have[i] < low[i]) return kVersionTooLow;
    if (have[i] > low[i]) break;
  }
  const int high_count = ScanVersion(max_jre, high);
  for (int i = 0; i < (high_count < have_count ? high_count : have_count); ++i) {
    if (have[i] > high[i]) return kVersionTooHigh;
    if (have[i] < high[i]) break;
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

// The JDK's own launcher names the process in "sun.java.command": the main
// class and its arguments, which jps, jcmd and monitoring tools show. The
// launcher class is not the application's, so the configured main class is
// named instead; an option line that sets the property itself is left alone.
std::string JavaCommandOption(const StringList& configured_options, const std::string& main_class,
                              const StringList& argument_lines, int argument_count, char** arguments) {
  static constexpr std::string_view kProperty = "-Dsun.java.command=";
  for (std::size_t i = 0; i < configured_options.Size(); ++i)
    if (configured_options.View(i).substr(0, kProperty.size()) == kProperty) return std::string();
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
    const jni::LocalRef<jstring> main_class_name(env, env->NewStringUTF(main_class.c_str()));
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
  // What main throws is printed and cleared; it does not change the result.
  jni::CheckException(env, true);
  return kLaunchOk;
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
    if (trail::On()) {
      for (std::size_t i = 0; i < host.options.Size(); ++i)
        trail::Line("jvm", "option %zu: %s", i + 1, host.options.At(i));
    }
    result = LaunchCodeOf(runtime::CreateJavaVm(host, library));
    NXO_TRAIL("jvm", "creation result %d", result);
  }

  if (result == kLaunchOk) {
    JNIEnv* env = host.env;
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
    const bool close_on_window = config::keys::SplashCloseOnWindow(config);
    if (close_on_window) splash::InstallSplashCloseOnWindow(env);
    splash::ApplyLaunchClosePolicy(close_on_window ? kSplashAwaitingWindowMs : kSplashAfterLaunchMs);
    StringList argument_lines = Collect(config, "argv", ValueForm::kAnsi);
    NXO_TRAIL("jvm", "calling the start class's main");
    result = InvokeStartClass(env, config::keys::MainClass(config), argument_lines, argument_count,
                              arguments);
    splash::ApplyMainReturnedClosePolicy(close_on_window ? kSplashAwaitingWindowMs
                                                         : kSplashAfterMainMs);
  }

  NXO_TRAIL("jvm", "launch result %d", result);
  if (result != kLaunchOk) ReportFailure(context.messages, result, version, min_jre, max_jre);
  return result;
}

}  // namespace nxo::launcher
