#include "config/launch_config.h"

#include <cstring>

#include "config/keys.h"
#include "config/payload.h"
#include "platform/platform.h"
#include "support/bytes.h"
#include "support/path.h"
#include "support/text.h"
#include "support/trail.h"

namespace nxo::config {

LaunchConfig LaunchConfig::OfRunningExecutable() {
  ConfigSource source;
  source.executable_path = platform::ModuleFileName();
  source.archive_length = RecordedArchiveLength();
  source.current_directory = platform::CurrentDirectory();
  return LaunchConfig(source);
}

LaunchConfig::LaunchConfig(const ConfigSource& source) { Load(source); }

void LaunchConfig::Load(const ConfigSource& source) {
  executable_path_ = source.executable_path;
  application_directory_ = DirectoryPart(executable_path_);
  current_directory_ = WithTrailingSeparator(source.current_directory);

  // Only the pieces the reader needs are read; the archive is never touched.
  std::string embedded;
  {
    platform::RandomAccessFile image;
    bool located = false;
    if (image.Open(executable_path_)) {
      PayloadLocation location = LocatePayloadInFile(image, source.archive_length, embedded);
      if (location.valid) payload_position_ = static_cast<std::int32_t>(location.payload_position);
      located = location.valid;
      NXO_TRAIL("config", "executable %s: %s", executable_path_.c_str(),
                location.valid ? "payload found" : "no payload");
      if (location.valid)
        NXO_TRAIL("config", "payload at %lld, configuration block %llu bytes",
                  static_cast<long long>(location.payload_position),
                  static_cast<unsigned long long>(embedded.size()));
    } else {
      NXO_TRAIL("config", "executable %s cannot be opened", executable_path_.c_str());
    }
    payload_missing_ = source.archive_length != 0 && !located;
  }

  ReadExternalConfig();
  if (!text_.empty()) text_ += "\r\n";
  embedded_start_ = static_cast<std::int32_t>(text_.size());
  AppendConfigText(embedded);

  // Only the embedded block decides whether the external file counts.
  if (keys::DisableExternal(*this)) {
    NXO_TRAIL("config", "disableexternal: the external file is ignored");
    text_.erase(0, static_cast<std::size_t>(embedded_start_));
    embedded_start_ = 0;
  }
}

void LaunchConfig::ReadExternalConfig() {
  const std::string& path = executable_path_;
  std::string::size_type name_start = path.find_last_of("\\/");
  name_start = name_start == std::string::npos ? 0 : name_start + 1;
  std::string::size_type dot = path.find_last_of('.');
  std::string stem = (dot != std::string::npos && dot >= name_start) ? path.substr(0, dot) : path;
  const std::string candidates[] = {path + ".cfg", path + ".config", stem + ".cfg",
                                    stem + ".config"};
  // A name without an extension is its own stem: its two names are looked
  // for once.
  const std::size_t candidate_count = stem == path ? 2 : 4;
  // Only a regular file of reasonable size counts: a FIFO would block the
  // start for ever and a device or a huge file would be read without end. A
  // candidate that is anything else is passed over like a missing one.
  for (std::size_t i = 0; i < candidate_count; ++i) {
    const std::string& candidate = candidates[i];
    std::string raw;
    const platform::SmallFileResult read =
        platform::ReadSmallRegularFile(candidate, kMaxExternalConfigSize, raw);
    if (read == platform::SmallFileResult::kRead) {
      NXO_TRAIL("config", "external file %s read (%llu bytes)", candidate.c_str(),
                static_cast<unsigned long long>(raw.size()));
      AppendConfigText(raw);
      return;
    }
    if (read == platform::SmallFileResult::kNotRegular)
      NXO_TRAIL("config", "external file %s ignored: not a regular file", candidate.c_str());
    else if (read == platform::SmallFileResult::kTooLarge)
      NXO_TRAIL("config", "external file %s ignored: larger than %llu bytes", candidate.c_str(),
                static_cast<unsigned long long>(kMaxExternalConfigSize));
    else if (read == platform::SmallFileResult::kUnreadable)
      NXO_TRAIL("config", "external file %s ignored: cannot be read", candidate.c_str());
  }
  NXO_TRAIL("config", "no external file beside the executable");
}

std::string DecodeConfigText(const std::string& raw) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(raw[i]); };
  if (raw.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
    // Cut at a 0x00 byte, as the other encodings stop at their first zero,
    // so that a stray NUL cannot hide the text that follows in the lookups.
    std::string text = raw.substr(3);
    std::string::size_type zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    // Malformed bytes become U+FFFD here, once, rather than reaching the
    // runtime (which takes only well-formed text) in a property value.
    if (!IsWellFormedUtf8(text)) text = EncodeUtf8(DecodeUtf8(text));
    return text;
  }
  if (raw.size() >= 2 && ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF))) {
    const bool big_endian = byte(0) == 0xFE;
    WideString wide;
    const std::size_t units = (raw.size() - 2) / 2;
    for (std::size_t i = 0; i < units; ++i) {
      const auto* pair = reinterpret_cast<const unsigned char*>(raw.data()) + 2 + 2 * i;
      const char16_t unit = static_cast<char16_t>(big_endian ? ReadBe16(pair) : ReadLe16(pair));
      if (unit == 0) break;
      wide.push_back(unit);
    }
    return EncodeUtf8(wide);
  }
  return EncodeUtf8(AnsiToWide(raw));
}

void LaunchConfig::AppendConfigText(const std::string& raw) { text_ += DecodeConfigText(raw); }

void LaunchConfig::RefreshCurrentDirectory() {
  current_directory_ = WithTrailingSeparator(platform::CurrentDirectory());
}

void LaunchConfig::SetTextForTesting(std::string text, std::int32_t embedded_start) {
  text_ = std::move(text);
  embedded_start_ = embedded_start;
}

// ---- Line grammar and lookups ----------------------------------------------

std::size_t NextConfigLine(std::string_view text, std::size_t at, std::string_view& line) {
  std::size_t end = at;
  while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
  line = text.substr(at, end - at);
  if (end == text.size()) return end;
  // CR LF and LF CR each count as one line break.
  std::size_t next = end + 1;
  if (next < text.size() && (text[next] == '\r' || text[next] == '\n') && text[next] != text[end])
    ++next;
  return next;
}

std::size_t KeyEnd(std::string_view line, std::string_view key) {
  std::size_t i = 0;
  while (i < line.size() && line[i] == ' ') ++i;
  line.remove_prefix(i);
  if (line.size() < key.size() || !StartsWithIgnoreCase(line, key)) return std::string_view::npos;
  if (line.size() > key.size() && IsNameByte(static_cast<unsigned char>(line[key.size()])))
    return std::string_view::npos;
  return i + key.size();
}

void ScanLines(std::string_view text, std::string_view key,
               FunctionRef<bool(std::string_view value)> visit) {
  std::string_view::size_type zero = text.find('\0');
  if (zero != std::string_view::npos) text = text.substr(0, zero);
  std::size_t at = 0;
  while (at < text.size()) {
    std::string_view line;
    at = NextConfigLine(text, at, line);
    const std::size_t key_end = KeyEnd(line, key);
    if (key_end == std::string_view::npos) continue;
    std::string_view value = line.substr(key_end);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    if (!value.empty() && value.front() == '=') {
      value.remove_prefix(1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    }
    if (!visit(value)) return;
  }
}

namespace {

std::string InForm(std::string_view value, ValueForm form) {
  return form == ValueForm::kAnsi ? Utf8ToAnsi(value) : std::string(value);
}

}  // namespace

void LaunchConfig::ForEachValue(std::string_view key, LookupScope scope, ValueForm form,
                                FunctionRef<void(const std::string&)> visitor) const {
  std::string_view text = text_;
  if (scope == LookupScope::kEmbeddedOnly) text.remove_prefix(static_cast<std::size_t>(embedded_start_));
  ScanLines(text, key, [&](std::string_view value) {
    visitor(InForm(value, form));
    return true;
  });
}

std::string LaunchConfig::FindValue(std::string_view key, LookupScope scope, ValueForm form) const {
  std::string_view text = text_;
  if (scope == LookupScope::kEmbeddedOnly) text.remove_prefix(static_cast<std::size_t>(embedded_start_));
  std::string found;
  ScanLines(text, key, [&](std::string_view value) {
    found = InForm(value, form);
    return false;
  });
  return found;
}

std::string LaunchConfig::FindValueWithPrefix(std::string_view key, LookupScope scope,
                                              ValueForm form, std::string_view wanted) const {
  bool seen = false;
  ForEachValue(key, scope, form, [&](const std::string& value) {
    if (value.size() >= wanted.size() && std::memcmp(value.data(), wanted.data(), wanted.size()) == 0)
      seen = true;
  });
  return seen ? std::string(wanted) : std::string();
}

void LaunchConfig::CollectValues(std::string_view key, StringList& list, LookupScope scope,
                                 ValueForm form) const {
  const bool to_utf8 = form == ValueForm::kUtf8;
  ForEachValue(key, scope, form, [&](const std::string& value) {
    list.Append(ExpandValue(value, to_utf8));
    NXO_TRAIL("config", "%.*s = \"%s\"", static_cast<int>(key.size()), key.data(),
              list.At(list.Size() - 1));
  });
}

std::string LaunchConfig::ResolveConfigPath(const std::string& path) const {
  if (path.empty()) return std::string();
  if (IsPathSeparator(path[0]) || (path.size() > 1 && path[1] == ':')) return path;
  std::string below_application = application_directory_ + path;
  if (platform::Access(below_application, platform::AccessMode::kRead)) return below_application;
  std::string below_current = current_directory_ + path;
  if (platform::Access(below_current, platform::AccessMode::kRead)) return below_current;
  return below_application;
}

const std::string& LaunchConfig::VmSetting() const {
  if (vm_setting_.empty()) {
    vm_setting_ = ExpandValue(FindValue("vm", LookupScope::kWholeText, ValueForm::kAnsi), false);
    // assign(1, ...) rather than = "-": GCC 12 -O3 reports a false -Wrestrict
    // on assigning a literal here (GCC bug 105329).
    if (vm_setting_.empty()) vm_setting_.assign(1, '-');
  }
  return vm_setting_;
}

}  // namespace nxo::config
