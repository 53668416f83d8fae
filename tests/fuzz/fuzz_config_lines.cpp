// The line grammar and the lookups over arbitrary text. The first byte picks
// how long the key is; the key comes from the bytes that follow it.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/launch_config.h"

using namespace nxo::config;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::size_t key_length = data[0] % 16;
  if (size < 1 + key_length) return 0;
  std::string key(reinterpret_cast<const char*>(data + 1), key_length);
  std::string text(reinterpret_cast<const char*>(data + 1 + key_length), size - 1 - key_length);

  LaunchConfig config;
  std::int32_t embedded = static_cast<std::int32_t>(text.size() / 2);
  config.SetTextForTesting(text, embedded);
  std::string first = config.FindValue(key, LookupScope::kWholeText, ValueForm::kUtf8);
  std::size_t count = 0;
  std::string first_seen;
  config.ForEachValue(key, LookupScope::kWholeText, ValueForm::kUtf8, [&](const std::string& v) {
    if (count++ == 0) first_seen = v;
    // A value is a piece of one line: it never holds a line break.
    if (v.find_first_of("\r\n") != std::string::npos) std::abort();
  });
  // The single lookup is the first of the multi-valued one.
  if (first != first_seen) std::abort();
  if (!first.empty() && config.FindValueWithPrefix(key, LookupScope::kWholeText, ValueForm::kUtf8,
                                                   first) != first)
    std::abort();
  config.FindValue(key, LookupScope::kEmbeddedOnly, ValueForm::kAnsi);
  nxo::StringList list;
  config.CollectValues(key, list, LookupScope::kWholeText, ValueForm::kAnsi);
  if (list.Size() != count) std::abort();
  return 0;
}
