#include "config/expand.h"

#include "config/launch_config.h"
#include "platform/platform.h"
#include "support/bytes.h"
#include "support/format.h"
#include "support/text.h"

namespace nxo::config {

namespace {

// HOME is kept once it is not empty.
std::string cached_home;

std::string& CachedHome() { return cached_home; }

struct RootPrefix {
  const char* prefix;
  platform::RegistryRoot root;
};

constexpr RootPrefix kRootPrefixes[] = {
    {"HKCR\\", platform::RegistryRoot::kClassesRoot},
    {"HKCU\\", platform::RegistryRoot::kCurrentUser},
    {"HKLM\\", platform::RegistryRoot::kLocalMachine},
    {"HKU\\", platform::RegistryRoot::kUsers},
    {"HKCC\\", platform::RegistryRoot::kCurrentConfig},
    {"HKEY_CLASSES_ROOT\\", platform::RegistryRoot::kClassesRoot},
    {"HKEY_CURRENT_USER\\", platform::RegistryRoot::kCurrentUser},
    {"HKEY_LOCAL_MACHINE\\", platform::RegistryRoot::kLocalMachine},
    {"HKEY_USERS\\", platform::RegistryRoot::kUsers},
    {"HKEY_CURRENT_CONFIG\\", platform::RegistryRoot::kCurrentConfig},
};

// A DWORD value's number, in either byte order; missing bytes count as zero.
std::uint32_t DwordOf(const std::vector<unsigned char>& data, bool big_endian) {
  unsigned char b[4] = {0, 0, 0, 0};
  for (std::size_t i = 0; i < 4 && i < data.size(); ++i) b[i] = data[i];
  return big_endian ? ReadBe32(b) : ReadLe32(b);
}

std::string TextUpToZero(const std::vector<unsigned char>& data) {
  std::string text(data.begin(), data.end());
  std::string::size_type zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

std::string FormatSigned(std::uint32_t bits) {
  char buffer[16];
  Format(buffer, sizeof buffer, "%d", static_cast<int>(static_cast<std::int32_t>(bits)));
  return buffer;
}

}  // namespace

std::optional<std::string> LookupLauncherName(const LaunchConfig& config, std::string_view name) {
  if (EqualsIgnoreCase(name, "APPLICATION_HOME")) return config.ApplicationDirectory();
  if (EqualsIgnoreCase(name, "PWD")) return config.CurrentDirectory();
  if (EqualsIgnoreCase(name, "NXO_APP_PATH")) return config.ExecutablePath();
  if (EqualsIgnoreCase(name, "HOME")) {
    std::string& home = CachedHome();
    if (home.empty()) {
      std::optional<std::string> drive = platform::GetEnvironment("HOMEDRIVE");
      std::optional<std::string> path = platform::GetEnvironment("HOMEPATH");
      if (drive && path) home = *drive + *path;
    }
    return home;
  }
  return std::nullopt;
}

std::optional<std::string> ReadRegistryReference(const LaunchConfig& config, std::string_view name,
                                                 int depth) {
  const RootPrefix* root = nullptr;
  for (const RootPrefix& candidate : kRootPrefixes) {
    if (name.substr(0, std::char_traits<char>::length(candidate.prefix)) == candidate.prefix) {
      root = &candidate;
      break;
    }
  }
  std::optional<std::string> fallback;
  std::string_view::size_type bar = name.find('|');
  if (bar != std::string_view::npos) {
    fallback = std::string(name.substr(bar + 1));
    name = name.substr(0, bar);
  }
  if (root == nullptr) return fallback;

  std::string_view rest = name.substr(std::char_traits<char>::length(root->prefix));
  std::string subkey(rest), value_name;
  std::string_view::size_type last = rest.find_last_of('\\');
  if (last != std::string_view::npos) {
    subkey = std::string(rest.substr(0, last));
    value_name = std::string(rest.substr(last + 1));
  }

  platform::RegistryValue value;
  if (!platform::ReadRegistryValue(root->root, subkey, value_name, value)) return fallback;
  switch (value.type) {
    case platform::RegistryType::kString:
      return TextUpToZero(value.data);
    case platform::RegistryType::kExpandString:
      // A value that keeps referring to further values would never end.
      if (depth >= kMaxRegistryDepth) return std::nullopt;
      return ExpandValueAtDepth(config, TextUpToZero(value.data), false, depth + 1);
    case platform::RegistryType::kDword:
      return FormatSigned(DwordOf(value.data, false));
    case platform::RegistryType::kDwordBigEndian:
      return FormatSigned(DwordOf(value.data, true));
    default:
      return std::string();  // resolved, but as nothing; the default is not used
  }
}

namespace {

std::optional<std::string> ResolveName(const LaunchConfig& config, std::string_view name, int depth) {
  if (std::optional<std::string> value = platform::GetEnvironment(std::string(name))) return value;
  if (std::optional<std::string> value = LookupLauncherName(config, name)) return value;
  return ReadRegistryReference(config, name, depth);
}

}  // namespace

std::string ExpandValueAtDepth(const LaunchConfig& config, std::string_view text, bool to_utf8,
                               int depth) {
  std::string out;
  std::size_t copied = 0, scan = 0;
  const std::size_t n = text.size();
  while (true) {
    std::size_t sigil_at = text.find_first_of("%$", scan);
    if (sigil_at == std::string_view::npos) break;
    const char sigil = text[sigil_at];
    std::string_view name;
    std::size_t end;  // position after the name (after "}" in the braced form)
    if (sigil_at + 1 < n && text[sigil_at + 1] == '{') {
      std::size_t close = text.find('}', sigil_at + 2);
      if (close == std::string_view::npos) {
        name = text.substr(sigil_at + 2);
        end = n;
      } else {
        name = text.substr(sigil_at + 2, close - sigil_at - 2);
        end = close + 1;
      }
    } else {
      end = sigil_at + 1;
      while (end < n && IsNameByte(static_cast<unsigned char>(text[end]))) ++end;
      name = text.substr(sigil_at + 1, end - sigil_at - 1);
    }

    if (name.empty()) {
      if (end < n && text[end] == sigil) {
        out.append(text.substr(copied, sigil_at - copied));
        out.push_back(sigil);
        copied = scan = end + 1;
      } else {
        scan = end > sigil_at ? end : sigil_at + 1;
      }
      continue;
    }

    std::size_t reference_end = end;
    if (sigil == '%') {
      if (end >= n || text[end] != '%') {
        scan = end;
        continue;
      }
      reference_end = end + 1;
    }

    std::optional<std::string> resolved = ResolveName(config, name, depth);
    if (!resolved) {
      scan = reference_end;
      continue;
    }
    out.append(text.substr(copied, sigil_at - copied));
    out.append(to_utf8 ? AnsiToUtf8(*resolved) : *resolved);
    copied = scan = reference_end;
  }
  out.append(text.substr(copied));
  return out;
}

std::string LaunchConfig::ExpandValue(std::string_view text, bool to_utf8) const {
  return ExpandValueAtDepth(*this, text, to_utf8, 0);
}

}  // namespace nxo::config
