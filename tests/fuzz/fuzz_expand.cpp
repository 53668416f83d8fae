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
  std::string utf8 = config->ExpandValue(text, true);
  // Text without a reference comes back unchanged, in either form.
  if (text.find_first_of("%$") == std::string::npos && (plain != text || utf8 != text)) std::abort();
  return 0;
}
