// The launcher's one configuration: the external file's text and the
// payload's configuration block, as one UTF-8 text, plus the path context
// that lookups, expansion and path resolution need.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "support/function_ref.h"
#include "support/string_list.h"

namespace nxo::config {

enum class LookupScope { kWholeText, kEmbeddedOnly };
enum class ValueForm { kUtf8, kAnsi };

// Where a configuration comes from; the running executable unless a caller
// (a test, a tool) names another image.
struct ConfigSource {
  std::string executable_path;
  std::uint32_t archive_length = 0;
  std::string current_directory;
};

// The largest external configuration file read, far above any real one (a
// few hundred lines take a few kilobytes); a larger file is ignored.
inline constexpr std::uint64_t kMaxExternalConfigSize = 1u << 20;

class LaunchConfig {
 public:
  // An empty configuration: no text, no paths.
  LaunchConfig() = default;
  // The running executable's payload and its external configuration file.
  static LaunchConfig OfRunningExecutable();
  // The payload and external file of the image |source| names.
  explicit LaunchConfig(const ConfigSource& source);

  void RefreshCurrentDirectory();

  const std::string& Text() const { return text_; }
  std::int32_t EmbeddedStart() const { return embedded_start_; }
  std::string ExecutablePath() const { return executable_path_; }
  std::string ApplicationDirectory() const { return application_directory_; }
  const std::string& CurrentDirectory() const { return current_directory_; }
  std::int32_t PayloadPosition() const { return payload_position_; }
  // True when the executable records an appended archive but no payload can
  // be found where the record says: the file has been changed since it was
  // made (cut short, or something appended).
  bool PayloadMissing() const { return payload_missing_; }

  // ---- Lookups ----
  std::string FindValue(std::string_view key, LookupScope scope, ValueForm form) const;
  void ForEachValue(std::string_view key, LookupScope scope, ValueForm form,
                    FunctionRef<void(const std::string&)> visitor) const;
  std::string FindValueWithPrefix(std::string_view key, LookupScope scope, ValueForm form,
                                  std::string_view wanted) const;
  // Every value of |key|, expanded: plainly for kAnsi, converting to UTF-8
  // for kUtf8.
  void CollectValues(std::string_view key, StringList& list, LookupScope scope,
                     ValueForm form) const;

  // ---- Expansion and paths ----
  std::string ExpandValue(std::string_view text, bool to_utf8) const;
  std::string ResolveConfigPath(const std::string& path) const;

  // The expanded "vm" value, "-" when it is empty; read once.
  const std::string& VmSetting() const;

  // Used by tests and tools: replaces the text directly.
  void SetTextForTesting(std::string text, std::int32_t embedded_start);

 private:
  void Load(const ConfigSource& source);
  void ReadExternalConfig();
  void AppendConfigText(const std::string& raw);

  std::string text_;
  std::int32_t embedded_start_ = 0;
  std::string executable_path_;
  std::string application_directory_;
  std::string current_directory_;
  mutable std::string vm_setting_;
  std::int32_t payload_position_ = 0;
  bool payload_missing_ = false;
};

// Decodes one source text (BOM UTF-8, UTF-16 LE/BE with mark, or ANSI) into
// UTF-8, cut at its first 0x00 byte or zero unit.
std::string DecodeConfigText(const std::string& raw);

// The line grammar, in three pieces the packager shares.
//
// Reads the line that starts at |at| into |line| and returns where the next
// one starts: CR, LF, CR LF and LF CR each end a line.
std::size_t NextConfigLine(std::string_view text, std::size_t at, std::string_view& line);

// Where |line| carries |key|: after leading spaces, the key ignoring case,
// followed by the end or a byte that cannot continue a key. Returns the
// position just past the key, or npos when the line carries another key.
std::size_t KeyEnd(std::string_view line, std::string_view key);

// Calls |visit| with the value of every line that carries |key|, in text
// order, up to the text's first 0x00, until it returns false.
void ScanLines(std::string_view text, std::string_view key,
               FunctionRef<bool(std::string_view value)> visit);

}  // namespace nxo::config
