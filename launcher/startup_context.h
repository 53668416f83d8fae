// What start-up owns for the life of the process. RunStartup builds one
// context and passes it down to every step that needs a part of it; nothing
// of it is process-wide, except the natives' part, which start-up publishes
// because the JVM calls the natives without a context of their own. State
// that later steps add (the splash window, the instance record, the output
// redirection) belongs here too.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "config/launch_config.h"
#include "instances/instances.h"
#include "launcher/command_line.h"
#include "launcher/messages.h"
#include "natives/remembered_keys.h"
#include "runtime/jre_search.h"
#include "runtime/jvm_host.h"
#include "splash/splash.h"

namespace nxo::launcher {

struct StartupContext {
  explicit StartupContext(config::LaunchConfig loaded)
      : config(std::move(loaded)), messages(&config) {
    natives.config = &config;
  }
  StartupContext(const StartupContext&) = delete;
  StartupContext& operator=(const StartupContext&) = delete;

  config::LaunchConfig config;
  MessageCatalogue messages;           // reads config's "message" lines
  runtime::JvmLibrarySearch runtime;   // the one runtime search, remembered
  runtime::JvmHost host;               // the JVM library and the JVM
  natives::NativeContext natives;      // what the natives read
  ArgumentVector arguments;            // the expanded command line, when "wildcard" asks
  // The launcher's own splash window, when start-up showed one (the natives
  // and message boxes reach it through the splash's process-wide reference).
  std::shared_ptr<splash::SplashWindow> splash;
  instances::InstanceGroup instances;  // the shared instance table and this process's entry
  // In a training start (the environment names class lists): the lists; the
  // application does not run, and nothing is shown.
  std::string training_lists;
  // The copy a training start runs to dump its base archive: its JVM ends
  // the process once the archive is written.
  bool dumps_base = false;
  // The working directory the process started in, before "forcecwd".
  std::string start_directory;
};

}  // namespace nxo::launcher
