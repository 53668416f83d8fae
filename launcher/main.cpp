// Process entry of the launcher.
#include "config/launch_config.h"

int main(int, char**) {
  nxo::config::LaunchConfig config(true);
  nxo::config::SetCurrentConfig(&config);
  nxo::config::SetCurrentConfig(nullptr);
  return 0;
}
