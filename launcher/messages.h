// Numbered messages: the texts the user sees when the launcher fails, their
// overrides from "message" configuration lines, and the way they are shown.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/launch_config.h"
#include "support/format.h"
#include "support/string_list.h"

namespace nxo::launcher {

inline constexpr unsigned kCaptionMessage = 10;

// The built-in English text of message |number|; empty for unknown numbers.
// The Windows executable carries the same texts in its string table.
const char* BuiltInMessageText(unsigned number);

// The texts this process shows: the configuration's "message" overrides
// over the built-in catalogue.
class MessageCatalogue {
 public:
  // |config| may be null: then nothing is overridden. It must outlive the
  // catalogue.
  explicit MessageCatalogue(const config::LaunchConfig* config) : config_(config) {}

  // The override for |number| from the configuration, else the string-table
  // text, else the empty string. The overrides are read at the first call
  // and kept.
  std::string Text(unsigned number) const;

  // The text of message |number| for use as a printf format: the override
  // only when its conversions are exactly those of the executable's own
  // text, in the same order; otherwise the executable's own text.
  std::string FormatText(unsigned number) const;

 private:
  void ReadOverrides() const;
  std::optional<std::string> Override(unsigned number) const;

  const config::LaunchConfig* config_;
  mutable bool read_ = false;
  mutable std::vector<std::pair<unsigned, std::size_t>> overrides_;  // number, index in pool
  mutable StringList pool_;
};

// The printf conversions of |format| in order ("%s", "%5d", ...; "%%" is
// none). |well_formed| is false when a "%" starts no complete conversion.
std::vector<std::string> FormatConversions(std::string_view format, bool& well_formed);

// "\n", "\r", "\t" and "\x" (any other character x) escapes.
std::string UnescapeMessage(std::string_view text);

// printf-style formatting, bounded: the text is cut at 1031 bytes.
std::string FormatMessageText(const char* format, ...) NXO_PRINTF_FORMAT(1, 2);

// Shows |text| in a warning box with caption message 10, owned by the splash
// window if one shows, then asks the splash to close in 100 ms. Returns when
// the box has been dismissed.
void ShowMessage(const MessageCatalogue& messages, const std::string& text);

// Shows message |number| and ends the process with |exit_code|.
[[noreturn]] void FailWithMessage(const MessageCatalogue& messages, unsigned number, int exit_code);

}  // namespace nxo::launcher
