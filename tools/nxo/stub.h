// Launcher stubs: which target a program image is for, and where its
// PayloadRecord lies (found by the record's magic, which must occur exactly
// once in the stub).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "config/payload.h"
#include "tools/nxo/status.h"

namespace nxo::tool {

enum class Target { kWin32, kWin64, kLinux, kUnknown };

// Both Windows targets: PE images that carry resources.
inline bool IsWindowsTarget(Target target) { return target == Target::kWin32 || target == Target::kWin64; }

// The launcher's PayloadRecord, as the packager finds and patches it.
inline constexpr char kRecordMagic[] = "NXO-PAYLOAD-REC1";
inline constexpr std::size_t kRecordMagicSize = sizeof(config::PayloadRecord::magic);
inline constexpr std::size_t kRecordLengthOffset = offsetof(config::PayloadRecord, archive_length);
inline constexpr std::size_t kRecordFlagsOffset = offsetof(config::PayloadRecord, flags);
static_assert(sizeof(kRecordMagic) == kRecordMagicSize + 1);

bool ParseTarget(const std::string& text, Target& target);
const char* TargetName(Target target);         // "win32", "win64", "linux"
std::string DescribeImage(const unsigned char* data, std::uint64_t size);  // "win32 PE32 (i386)", "win64 PE32+ (x86-64)"...
Target TargetOfImage(const unsigned char* data, std::uint64_t size);
std::string StubFileName(Target target);       // "nxo-win32.exe", "nxo-win64.exe", "nxo-linux"

// How often the magic occurs in |data|; |first| gets the first position.
std::uint64_t CountRecordMagic(const unsigned char* data, std::uint64_t size, std::uint64_t& first);


}  // namespace nxo::tool
