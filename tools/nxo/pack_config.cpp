#include "tools/nxo/pack_config.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
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

// Text from the command line or a file without a byte-order mark, as UTF-8:
// text that is valid UTF-8 is taken as it is, whatever the locale; anything
// else is read in the locale's encoding, and a byte that neither can read is
// an error rather than a silent "?". The text ends at its first 0x00 byte.
Status InputTextToUtf8(std::string_view input, const std::string& what, std::string& utf8) {
  input = input.substr(0, input.find('\0'));
  if (IsWellFormedUtf8(input)) {
    utf8.assign(input);
    return Status::Ok();
  }
  std::u16string wide;
  std::mbstate_t state{};
  for (std::size_t i = 0; i < input.size();) {
    wchar_t unit = 0;
    const std::size_t used = std::mbrtowc(&unit, input.data() + i, input.size() - i, &state);
    if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2) || used == 0)
      return Status::Error(what + " is neither UTF-8 nor text in the locale's encoding (byte " +
                           std::to_string(i) + ")");
    std::uint32_t code = static_cast<std::uint32_t>(unit);
    if (code > 0xFFFF) {
      code -= 0x10000;
      wide.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      wide.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      wide.push_back(static_cast<char16_t>(code));
    }
    i += used;
  }
  utf8 = EncodeUtf8(wide);
  return Status::Ok();
}

bool HasByteOrderMark(const std::string& raw) {
  return raw.rfind("\xEF\xBB\xBF", 0) == 0 || raw.rfind("\xFF\xFE", 0) == 0 || raw.rfind("\xFE\xFF", 0) == 0;
}

}  // namespace

Status BuildConfigBlock(const PackOptions& options, ConfigBlock& block) {
  std::vector<std::string> lines;
  if (options.config_file) {
    std::string raw;
    NXO_RETURN_IF_ERROR(ReadInputFile(*options.config_file, raw));
    std::string text;
    if (HasByteOrderMark(raw))
      text = config::DecodeConfigText(raw);
    else
      NXO_RETURN_IF_ERROR(InputTextToUtf8(raw, "configuration file " + Quoted(*options.config_file), text));
    lines = NonEmptyLines(text);
  }
  // A --set replaces the file's lines of its key; the reader would otherwise
  // take the file's first line and ignore the command line.
  for (const std::string& setting : options.settings) {
    NXO_RETURN_IF_ERROR(ValidateSetting(setting));
    const std::string key = KeyOfSetting(setting);
    std::erase_if(lines, [&](const std::string& line) { return LineCarriesKey(line, key); });
  }
  for (const std::string& setting : options.settings) {
    std::string line;
    NXO_RETURN_IF_ERROR(InputTextToUtf8(setting, "--set " + Quoted(setting), line));
    lines.push_back(std::move(line));
  }
  if (options.main_class) {
    if (options.main_class->empty() || options.main_class->find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
      return Status::Error("bad main class " + Quoted(*options.main_class));
    std::erase_if(lines, [](const std::string& line) { return LineCarriesKey(line, "mainclass"); });
    std::string name;
    NXO_RETURN_IF_ERROR(InputTextToUtf8(*options.main_class, "main class " + Quoted(*options.main_class), name));
    lines.push_back("mainclass " + name);
  }
  // Packed applications look for Java everywhere it is installed today; the
  // launcher's own default order, for executables without the line, stays
  // "cbsie".
  if (std::none_of(lines.begin(), lines.end(),
                   [](const std::string& line) { return LineCarriesKey(line, "jre_order"); }))
    lines.push_back(std::string("jre_order ") + kPackedJreOrder);
  // "a/b/Main" names the class a.b.Main, as for the java command; the
  // launcher hands the name to Class.forName, which takes dots only.
  for (std::string& line : lines)
    if (LineCarriesKey(line, "mainclass")) std::replace(line.begin(), line.end(), '/', '.');

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
