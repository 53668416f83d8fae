// Numbered messages: the texts the user sees when the launcher fails, their
// overrides from "message" configuration lines, and the way they are shown.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace nxo::launcher {

inline constexpr unsigned kCaptionMessage = 10;
// MB_TOPMOST | MB_SETFOREGROUND | MB_ICONWARNING
inline constexpr unsigned kMessageBoxFlags = 0x50030;

// The built-in English text of message |number|; empty for unknown numbers.
// The Windows executable carries the same texts in its string table.
const char* BuiltInMessageText(unsigned number);

// The override for |number| from the configuration, else the string-table
// text, else the empty string. Overrides are read once per process.
std::string GetMessageText(unsigned number);

// "\n", "\r", "\t" and "\x" (any other character x) escapes.
std::string UnescapeMessage(std::string_view text);

// printf-style formatting, bounded: the text is cut at 1031 bytes.
std::string FormatMessageText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Shows message |number| with caption message 10, then asks the splash to
// close in 100 ms. Returns when the box has been dismissed.
void ShowMessage(const std::string& text);

// Shows message |number| and ends the process with |exit_code|.
[[noreturn]] void FailWithMessage(unsigned number, int exit_code);

// Forgets the override table, so a test can load another configuration.
void ResetMessagesForTesting();

}  // namespace nxo::launcher
