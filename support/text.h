// Text helpers shared by every subsystem: keyword comparisons and the coders
// between the configuration's UTF-8, 16-bit wide text and the ANSI code page
// of the C runtime's locale.
#pragma once

#include <string>
#include <string_view>

namespace nxo {

// Wide text as the launcher uses it: 16-bit units, like Java strings and the
// Windows wide API, on every platform.
using WideString = std::u16string;

// Keyword comparison ("true", "auto", "custom"...): equal length, and each byte
// pair equal or equal after the C runtime's upper-case mapping.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// The first |prefix.size()| bytes of |text| equal |prefix|, ignoring case.
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);

// A byte that may continue a configuration key or a reference name: "_" or a
// letter or digit by the C runtime's classification for the current locale.
bool IsNameByte(unsigned char byte);

// UTF-8 encoder: a surrogate pair becomes one four-byte sequence, every other
// unit one to three bytes; a surrogate without its partner becomes U+FFFD, so
// the result is always well-formed UTF-8.
std::string EncodeUtf8(std::u16string_view wide);

// Modified UTF-8, as the JVM spells names in class files and NewStringUTF
// takes them: every 16-bit unit on its own (a surrogate in three bytes) and
// U+0000 as the two bytes C0 80.
std::string EncodeModifiedUtf8(std::u16string_view wide);

// UTF-8 decoder: characters past U+FFFF become surrogate pairs; each
// malformed part (a byte that starts nothing, a sequence cut short, an
// overlong form, an encoded surrogate) becomes U+FFFD, so the result is
// always well-formed UTF-16. The result ends at its first zero unit.
WideString DecodeUtf8(std::string_view utf8);

// Whether every surrogate stands in a pair, high before low.
bool IsWellFormedUtf16(std::u16string_view wide);

// Whether |utf8| is UTF-8 as the standard defines it (no overlong forms, no
// surrogates, nothing past U+10FFFF).
bool IsWellFormedUtf8(std::string_view utf8);

// Tells the ANSI coders below that the process's ANSI code page is UTF-8
// (Windows 10 1903 and later, with the activeCodePage of the manifest). The C
// runtime's locale cannot express that code page, so the coders then do the
// UTF-8 conversion themselves. Set once at start-up, before other threads.
void SetAnsiCodePageIsUtf8(bool utf8);

// ANSI (the C runtime's locale, or UTF-8: see above) to wide, stopping at the
// first 0x00 byte. Bytes the locale cannot convert become "?".
WideString AnsiToWide(std::string_view ansi);

// Wide to ANSI, stopping at the first zero unit. Units the locale cannot
// represent become "?".
std::string WideToAnsi(std::u16string_view wide);

// UTF-8 to ANSI when |text| holds a byte of 0x80 or above; unchanged otherwise
// (and always unchanged when the ANSI code page is UTF-8).
std::string Utf8ToAnsi(std::string_view text);

// ANSI to UTF-8 when |text| holds a byte of 0x80 or above; unchanged otherwise.
std::string AnsiToUtf8(std::string_view text);

bool HasHighByte(std::string_view text);

}  // namespace nxo
