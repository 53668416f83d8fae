// Splitting a command line into arguments and expanding file-name wildcards
// in them the way a Unix shell would; the Windows command interpreter leaves
// "*" and "?" to the program.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/keys.h"
#include "support/string_list.h"

namespace nxo::launcher {

// Whether an argument holds wildcards, and where they stood.
inline constexpr std::int32_t kNoWildcard = 0;
inline constexpr std::int32_t kWildcardOutsideQuotes = 1;
inline constexpr std::int32_t kWildcardInsideQuotes = -1;

// kPlain: only wildcards outside double quotes are expanded; kAll: every one;
// kOff: none.
using config::WildcardMode;

// Splits |text| (0x00-terminated, rewritten in place: quotes removed, escapes
// resolved, a 0x00 after each argument) and appends a pointer to each
// argument to |arguments|. With |marks|, each argument's wildcard mark is
// recorded; the marks are padded with kNoWildcard to the length of
// |arguments|. Returns that length.
int SplitArguments(std::vector<char*>& arguments, char* text, std::vector<std::int32_t>* marks);

// The expanded command line: the arguments in one buffer, and an argv-style
// vector of pointers into it whose first entry is the program name.
class ArgumentVector {
 public:
  void Clear();
  void Store(std::string_view argument);
  // Builds the pointer vector once every argument is stored.
  void Seal();

  int Count() const { return static_cast<int>(pointers_.empty() ? 0 : pointers_.size() - 1); }
  // Count() pointers followed by a null pointer; valid until the next Clear.
  char** Values() { return pointers_.data(); }
  const StringList& Arguments() const { return arguments_; }

 private:
  StringList arguments_;
  std::vector<char*> pointers_;
};

// Fills |out| from |command_line| with wildcard expansion in |mode|.
void ExpandCommandLineText(WildcardMode mode, std::string_view command_line, ArgumentVector& out);

// Fills |out| from the process's own command line.
void ExpandCommandLine(WildcardMode mode, ArgumentVector& out);

}  // namespace nxo::launcher
