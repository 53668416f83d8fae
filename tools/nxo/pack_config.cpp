#include "tools/nxo/pack_config.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "config/launch_config.h"
#include "support/text.h"
#include "tools/nxo/files.h"

namespace nxo::tool {

// The jre_order written unless the configuration has one: every runtime
// source the launcher knows (docs/configuration.md), the vendors' registry
// keys after the JavaSoft ones and PATH last.
const char kPackedJreOrder[] = "cbsviep";

namespace {

// The non-empty lines of |text|, split as the reader splits them.
std::vector<std::string> NonEmptyLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string_view line;
  for (std::size_t at = 0; at < text.size();) {
    at = config::NextConfigLine(text, at, line);
    if (!line.empty()) lines.emplace_back(line);
  }
  return lines;
}

bool LineCarriesKey(std::string_view line, std::string_view key) {
  return config::KeyEnd(line, key) != std::string_view::npos;
}

std::string KeyOfSetting(const std::string& setting) {
  std::string key = setting.substr(0, setting.find('='));
  while (!key.empty() && key.back() == ' ') key.pop_back();
  return key;
}

Status ValidateSetting(const std::string& setting) {
  const std::string key = KeyOfSetting(setting);
  if (setting.find('=') == std::string::npos || key.empty() || key.find_first_not_of(' ') != 0)
    return Status::Error("--set " + Quoted(setting) + " is not KEY=VALUE");
  if (setting.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    return Status::Error("--set " + Quoted(key) + ": a value cannot span lines");
  return Status::Ok();
}

}  // namespace

Status BuildConfigBlock(const PackOptions& options, ConfigBlock& block) {
  std::vector<std::string> lines;
  if (options.config_file) {
    std::string raw;
    NXO_RETURN_IF_ERROR(ReadWholeFile(*options.config_file, raw));
    lines = NonEmptyLines(config::DecodeConfigText(raw));
  }
  // A --set replaces the file's lines of its key; the reader would otherwise
  // take the file's first line and ignore the command line.
  for (const std::string& setting : options.settings) {
    NXO_RETURN_IF_ERROR(ValidateSetting(setting));
    const std::string key = KeyOfSetting(setting);
    std::erase_if(lines, [&](const std::string& line) { return LineCarriesKey(line, key); });
  }
  for (const std::string& setting : options.settings) lines.push_back(AnsiToUtf8(setting));
  if (options.main_class) {
    if (options.main_class->empty() || options.main_class->find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
      return Status::Error("bad main class " + Quoted(*options.main_class));
    std::erase_if(lines, [](const std::string& line) { return LineCarriesKey(line, "mainclass"); });
    lines.push_back("mainclass " + AnsiToUtf8(*options.main_class));
  }
  // Packed applications look for Java everywhere it is installed today; the
  // launcher's own default order, for executables without the line, stays
  // "cbsie".
  if (std::none_of(lines.begin(), lines.end(),
                   [](const std::string& line) { return LineCarriesKey(line, "jre_order"); }))
    lines.push_back(std::string("jre_order ") + kPackedJreOrder);

  block.bytes = "\xEF\xBB\xBF";
  for (const std::string& line : lines) block.bytes += line + "\r\n";
  block.bytes.push_back('\0');
  for (const std::string& line : lines) {
    if (!LineCarriesKey(line, "mainclass")) continue;
    config::ScanLines(line, "mainclass", [&](std::string_view value) {
      block.main_class = std::string(value);
      return false;
    });
    break;  // the first line wins, as in the reader
  }
  return Status::Ok();
}

}  // namespace nxo::tool
