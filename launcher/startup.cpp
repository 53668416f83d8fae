#include "launcher/startup.h"

#include <clocale>

#include "config/integrity.h"
#include "config/keys.h"
#include "config/launch_config.h"
#include "config/payload.h"
#include "console/console.h"
#include "instances/instances.h"
#include "launcher/command_line.h"
#include "launcher/messages.h"
#include "platform/platform.h"
#include "runtime/jvm_host.h"
#include "splash/splash.h"
#include "support/path.h"
#include "support/text.h"

namespace nxo::launcher {

namespace {

constexpr int kIntegrityExitCode = 9;
constexpr unsigned kIntegrityMessage = 9;
constexpr int kInstanceRunningExitCode = 11;
constexpr unsigned kInstanceRunningMessage = 13;
constexpr std::uint32_t kMaxPath = 260;

void ApplySingleInstanceMode(const config::LaunchConfig& config) {
  const std::string mode = config::keys::SingleInstance(config);
  if (EqualsIgnoreCase(mode, "true")) {
    if (!instances::SingleInstanceLock())
      FailWithMessage(kInstanceRunningMessage, kInstanceRunningExitCode);
  } else if (EqualsIgnoreCase(mode, "custom")) {
    instances::StartMessaging();
  }
}

// Replaces argc/argv with the expanded command line when "wildcard" asks.
void ApplyWildcardMode(const config::LaunchConfig& config, int& argc, char**& argv) {
  const std::string mode = config::keys::Wildcard(config);
  WildcardMode expansion;
  if (EqualsIgnoreCase(mode, "true") || EqualsIgnoreCase(mode, "auto"))
    expansion = WildcardMode::kPlain;
  else if (EqualsIgnoreCase(mode, "all"))
    expansion = WildcardMode::kAll;
  else
    return;
  ExpandCommandLine(expansion);
  argc = ProcessArguments().Count();
  argv = ProcessArguments().Values();
}

}  // namespace

unsigned RunLaunch(void* raw) {
  LaunchRequest empty;
  LaunchRequest& request = raw != nullptr ? *static_cast<LaunchRequest*>(raw) : empty;
  request.result = LaunchJava(request.argument_count, request.arguments, request.startup_hook,
                              request.extra_count, request.extra_arguments);
  runtime::UnloadJvm(*CurrentJvmHost());
  return static_cast<unsigned>(request.result);
}

std::uint32_t ResolvePathAgainst(const std::string& base, const std::string& path,
                                 std::uint32_t capacity, std::string& full) {
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
  return platform::FullPathName(combined, capacity, full);
}

void ForceWorkingDirectory(const std::string& application_directory, const std::string& path) {
  std::string full;
  std::uint32_t length = ResolvePathAgainst(application_directory, path, kMaxPath, full);
  if (length > 0 && length < kMaxPath) platform::ChangeCurrentDirectory(full);
}

bool ExecutableIsIntact(const std::string& executable_path) {
  const std::uint32_t archive_length = config::RecordedArchiveLength();
  if (archive_length == 0 || (config::RecordedFlags() & config::kFlagVerifyIntegrity) == 0)
    return true;
  platform::MappedFile image;
  if (!image.Open(executable_path)) return false;
  config::PayloadLocation location =
      config::LocatePayload(image.Data(), image.Size(), archive_length);
  return location.valid && config::PayloadDigestMatches(image.Data(), image.Size(), location);
}

int RunStartup(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  config::LaunchConfig config(true);
  runtime::JvmHost host;
  config::SetCurrentConfig(&config);
  SetCurrentJvmHost(&host);

  platform::InitCommonControls();
  splash::ShowStartupSplash(config);

  const std::string force_cwd = config::keys::ForceCwd(config);
  if (!force_cwd.empty()) {
    ForceWorkingDirectory(config.ApplicationDirectory(), force_cwd);
    config.RefreshCurrentDirectory();
  }

  const std::string error_target = config::keys::Stderr(config);
  if (!error_target.empty()) console::RedirectStandardError(error_target);
  const std::string output_target = config::keys::Stdout(config);
  if (!output_target.empty()) console::RedirectStandardOutput(output_target);

  if (!ExecutableIsIntact(config.ExecutablePath()))
    FailWithMessage(kIntegrityMessage, kIntegrityExitCode);
  ApplySingleInstanceMode(config);
  ApplyWildcardMode(config, argc, argv);

  LaunchRequest request;
  request.argument_count = argc > 0 ? argc - 1 : 0;
  request.arguments = argc > 0 ? argv + 1 : argv;
  request.startup_hook = console::StartupHook;

  unsigned result;
  if (!config::keys::StartOnFirstThreadOption(config).empty())
    result = RunLaunch(&request);
  else
    result = platform::RunOnNewThread(RunLaunch, &request);

  config::SetCurrentConfig(nullptr);
  SetCurrentJvmHost(nullptr);
  runtime::UnloadJvm(host);
  return static_cast<int>(result);
}

}  // namespace nxo::launcher
