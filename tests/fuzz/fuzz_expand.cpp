// Value expansion over arbitrary text, in both forms.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/launch_config.h"
#include "platform/platform.h"

using namespace nxo::config;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static LaunchConfig* config = [] {
    nxo::platform::PutEnvironment("NXO_FUZZ=%NXO_FUZZ%$NXO_FUZZ");
    ConfigSource source;
    source.executable_path = "/app/dir/app.exe";
    source.current_directory = "/cwd";
    return new LaunchConfig(source);
  }();
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string plain = config->ExpandValue(text, false);
  config->ExpandValue(text, true);
  // Text without a sigil comes back unchanged.
  if (text.find_first_of("%$") == std::string::npos && plain != text) std::abort();
  return 0;
}
