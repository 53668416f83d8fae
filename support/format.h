// printf-style formatting for the whole launcher, through the C runtime the
// target already carries.
//
// On Windows that is the system's msvcrt.dll. MinGW's libstdc++ otherwise
// routes every printf-family call to MinGW's own C99 formatter, which is
// linked into the executable with its floating-point conversions: about a
// sixth of a stub, for formats that never print a number with a fraction.
// The launcher's formats therefore keep to what both runtimes print alike:
// %s, %c, %d, %u, %x with "l" and "ll", widths, precisions and "*"; no "z",
// "j" or "t" (cast a size to unsigned long long and print it with %llu).
// NXO_PRINTF_FORMAT makes the compiler check each format against the
// target's runtime, so a "%zu" stops the Windows build.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

// NXO_PRINTF_ARCHETYPE is set by the build: ms_printf for Windows targets.
#if defined(__clang__) || !defined(NXO_PRINTF_ARCHETYPE)
#define NXO_PRINTF_FORMAT(format_index, first_argument) \
  __attribute__((format(printf, format_index, first_argument)))
#else
#define NXO_PRINTF_FORMAT(format_index, first_argument) \
  __attribute__((format(NXO_PRINTF_ARCHETYPE, format_index, first_argument)))
#endif

namespace nxo {

// vsnprintf as C99 defines it, on every target: writes at most |size| bytes
// including a terminating zero (none when |size| is 0, and |buffer| may then
// be null) and returns the length the whole text has, or a negative number
// when |format| cannot be formatted.
int FormatV(char* buffer, std::size_t size, const char* format, std::va_list arguments);

// snprintf as C99 defines it; see FormatV.
int Format(char* buffer, std::size_t size, const char* format, ...) NXO_PRINTF_FORMAT(3, 4);

// The whole formatted text; empty when |format| cannot be formatted.
std::string FormatText(const char* format, ...) NXO_PRINTF_FORMAT(1, 2);

}  // namespace nxo
