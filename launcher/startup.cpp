#include "launcher/startup.h"

#include <atomic>
#include <clocale>
#include <optional>
#include <string>

#include "config/integrity.h"
#include "config/keys.h"
#include "config/launch_config.h"
#include "config/payload.h"
#include "console/console.h"
#include "instances/instances.h"
#include "launcher/command_line.h"
#include "launcher/messages.h"
#include "launcher/startup_context.h"
#include "splash/splash.h"
#include "natives/instance_natives.h"
#include "platform/platform.h"
#include "runtime/class_data_sharing.h"
#include "runtime/jvm_host.h"
#include "support/path.h"
#include "support/text.h"
#include "support/trail.h"

namespace nxo::launcher {

namespace {

// With NXO_CHECK_RUNTIME set (by `nxo inspect --check-runtime`) the
// launcher only runs the runtime search, for the trail to show, and ends:
// 0 when a runtime was found, 1 when not.
constexpr const char* kCheckRuntimeVariable = "NXO_CHECK_RUNTIME";

int CheckRuntimeOnly(StartupContext& context) {
  const bool found = !context.runtime.Locate(context.config).empty();
  NXO_TRAIL("exit", "runtime check only, exit code %d", found ? 0 : 1);
  return found ? 0 : 1;
}

constexpr int kIntegrityExitCode = 9;
constexpr unsigned kIntegrityMessage = 9;
constexpr int kInstanceRunningExitCode = 11;
constexpr unsigned kInstanceRunningMessage = 13;
constexpr std::uint32_t kMaxPath = 260;

void ApplySingleInstanceMode(const StartupContext& context) {
  switch (config::keys::InstanceMode(context.config)) {
    case config::SingleInstanceMode::kLock:
      if (!instances::SingleInstanceLock(config::keys::AppId(context.config),
                                         context.config.ExecutablePath()))
        FailWithMessage(context.messages, kInstanceRunningMessage, kInstanceRunningExitCode);
      break;
    case config::SingleInstanceMode::kCustom:
      instances::StartMessaging(&natives::TheJavaReceiver());
      break;
    case config::SingleInstanceMode::kOff:
      break;
  }
}

// Replaces argc/argv with the expanded command line when "wildcard" asks.
void ApplyWildcardMode(StartupContext& context, int& argc, char**& argv) {
  const WildcardMode expansion = config::keys::WildcardExpansion(context.config);
  if (expansion == WildcardMode::kOff) return;
  ExpandCommandLine(expansion, context.arguments);
  argc = context.arguments.Count();
  argv = context.arguments.Values();
}

// Interrupts arrive without a context: the host they may end is published
// for them while the launch runs, and withdrawn before the context goes.
std::atomic<runtime::JvmHost*> interrupt_host{nullptr};

// The JVM an interrupt should end: the host's, while it holds one.
JavaVM* CurrentJavaVm() {
  runtime::JvmHost* host = interrupt_host.load();
  return host != nullptr ? host->vm : nullptr;
}

// Ties the console's streams and interrupts to the JVM the launch created.
void StartupHook(StartupContext& context) {
  interrupt_host.store(&context.host);
  console::StartupHook(context.host.env, CurrentJavaVm);
}

}  // namespace

unsigned RunLaunch(void* raw) {
  LaunchRequest* request = static_cast<LaunchRequest*>(raw);
  if (request == nullptr || request->context == nullptr) return 0;
  StartupContext& context = *request->context;
  request->result =
      LaunchJava(context, request->argument_count, request->arguments, request->startup_hook);
  runtime::UnloadJvm(context.host);
  PublishClassDataArchive();
  return static_cast<unsigned>(request->result);
}

std::optional<std::string> ResolvePathAgainst(const std::string& base, const std::string& path) {
  std::string combined;
  if ((!path.empty() && path[0] == '/') || (path.size() > 1 && path[1] == ':')) {
    combined = path;
  } else if (!path.empty() && path[0] == '\\') {
    // A rooted path keeps the base's drive when the base has one.
    const bool drive_base = base.find(':') == 1;
    combined = drive_base ? base.substr(0, 2) + path : path;
  } else {
    combined = WithTrailingSeparator(base) + path;
  }
  return platform::FullPath(combined);
}

void ForceWorkingDirectory(const std::string& application_directory, const std::string& path) {
  const std::optional<std::string> full = ResolvePathAgainst(application_directory, path);
  // A directory the Windows path limit would not hold is not taken on any
  // target, so the same configuration behaves alike everywhere.
  if (full && !full->empty() && full->size() < kMaxPath) platform::ChangeCurrentDirectory(*full);
}

Integrity CheckIntegrity(const std::string& executable_path) {
  const std::uint32_t archive_length = config::RecordedArchiveLength();
  if (archive_length == 0 || (config::RecordedFlags() & config::kFlagVerifyIntegrity) == 0)
    return Integrity::kIntact;
  platform::MappedFile image;
  if (!image.Open(executable_path)) return Integrity::kUnreadable;
  config::PayloadLocation location =
      config::LocatePayload(image.Data(), image.Size(), archive_length);
  const bool intact =
      location.valid && config::PayloadDigestMatches(image.Data(), image.Size(), location);
  return intact ? Integrity::kIntact : Integrity::kModified;
}

namespace {

// A training start (see runtime/class_data_sharing.h): the JVM only loads the
// classes an earlier start recorded and writes the archive at its exit. It
// shows nothing, takes no instance entry or lock, redirects nothing, and runs
// at the lowest priority, which the JVM's threads inherit.
int RunTrainingStart(StartupContext& context, const std::string& lists) {
  NXO_TRAIL("start", "%s for %s", context.dumps_base ? "base archive copy" : "training start", lists.c_str());
  platform::LowerThreadPriority();
  context.training_lists = lists;
  natives::PublishNativeContext(&context.natives);
  LaunchRequest request;
  request.context = &context;
  request.argument_count = 0;
  request.startup_hook = nullptr;
  const unsigned result = platform::RunOnNewThread(RunLaunch, &request);
  runtime::UnloadJvm(context.host);
  natives::PublishNativeContext(nullptr);
  NXO_TRAIL("exit", "training start ended: %u", result);
  return static_cast<int>(result);
}

}  // namespace

int RunStartup(int argc, char** argv) {
  trail::UseClock(platform::MicrosecondsSinceStart);
  trail::OpenFromEnvironment();
  NXO_TRAIL("start", "launcher started with %d argument(s)", argc > 0 ? argc - 1 : 0);
  std::setlocale(LC_ALL, "");
  SetAnsiCodePageIsUtf8(platform::AnsiCodePageIsUtf8());
  StartupContext context(config::LaunchConfig::OfRunningExecutable());
  config::LaunchConfig& config = context.config;
  context.start_directory = platform::CurrentDirectory();
  if (platform::GetEnvironment(kCheckRuntimeVariable)) return CheckRuntimeOnly(context);
  // A base archive's copy inherits the training start's environment: its
  // own variable decides first.
  const std::optional<std::string> base_lists = platform::GetEnvironment(runtime::kBaseDumpVariable);
  if (base_lists && !base_lists->empty()) {
    context.dumps_base = true;
    return RunTrainingStart(context, *base_lists);
  }
  const std::optional<std::string> training_lists = platform::GetEnvironment(runtime::kTrainingVariable);
  if (training_lists && !training_lists->empty()) return RunTrainingStart(context, *training_lists);
  natives::PublishNativeContext(&context.natives);
  context.instances.Open(config::keys::AppId(config));
  instances::SetCurrentInstanceState(context.instances.State());

  platform::InitCommonControls();
  // The runtime is searched for here, whether or not a splash is shown: the
  // splash step needs it, and relative runtime paths must resolve against the
  // start directory, before "forcecwd" changes it. The outcome is remembered.
  const std::string& jvm_library = context.runtime.Locate(config);
  context.splash = splash::ShowStartupSplash(config, context.host, jvm_library);

  const std::string force_cwd = config::keys::ForceCwd(config);
  if (!force_cwd.empty()) {
    ForceWorkingDirectory(config.ApplicationDirectory(), force_cwd);
    config.RefreshCurrentDirectory();
    NXO_TRAIL("start", "working directory now %s", config.CurrentDirectory().c_str());
  }

  const std::string error_target = config::keys::Stderr(config);
  if (!error_target.empty()) console::RedirectStandardError(error_target);
  const std::string output_target = config::keys::Stdout(config);
  if (!output_target.empty()) console::RedirectStandardOutput(output_target);

  // An executable that cannot be read cannot be shown to be intact either,
  // and a payload that the record promises but that cannot be found is a
  // changed executable as much as one whose digest no longer matches.
  if (config.PayloadMissing() || CheckIntegrity(config.ExecutablePath()) != Integrity::kIntact) {
    NXO_TRAIL("start", "integrity check failed");
    FailWithMessage(context.messages, kIntegrityMessage, kIntegrityExitCode);
  }
  ApplySingleInstanceMode(context);
  ApplyWildcardMode(context, argc, argv);

  LaunchRequest request;
  request.context = &context;
  request.argument_count = argc > 0 ? argc - 1 : 0;
  request.arguments = argc > 0 ? argv + 1 : argv;
  request.startup_hook = StartupHook;

  unsigned result;
  if (!config::keys::StartOnFirstThreadOption(config).empty()) {
    NXO_TRAIL("start", "launching on the first thread");
    result = RunLaunch(&request);
  } else {
    result = platform::RunOnNewThread(RunLaunch, &request);
  }

  interrupt_host.store(nullptr);
  runtime::UnloadJvm(context.host);
  natives::PublishNativeContext(nullptr);
  // The state goes before the table it reads.
  instances::SetCurrentInstanceState(nullptr);
  context.instances.Close();
  NXO_TRAIL("exit", "exit code %u", result);
  return static_cast<int>(result);
}

}  // namespace nxo::launcher
