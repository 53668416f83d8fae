#include "tools/nxo/stub.h"

#include <cstring>

#include "config/integrity.h"
#include "support/bytes.h"

namespace nxo::tool {

bool ParseTarget(const std::string& text, Target& target) {
  if (text == "win32") {
    target = Target::kWin32;
    return true;
  }
  if (text == "win64") {
    target = Target::kWin64;
    return true;
  }
  if (text == "linux") {
    target = Target::kLinux;
    return true;
  }
  return false;
}

const char* TargetName(Target target) {
  switch (target) {
    case Target::kWin32: return "win32";
    case Target::kWin64: return "win64";
    case Target::kLinux: return "linux";
    default: return "unknown";
  }
}

std::string StubFileName(Target target) {
  switch (target) {
    case Target::kWin32: return "nxo-win32.exe";
    case Target::kWin64: return "nxo-win64.exe";
    default: return "nxo-linux";
  }
}

Target TargetOfImage(const unsigned char* data, std::uint64_t size) {
  const config::PeHeaderFields pe = config::FindPeHeaderFields(data, size);
  if (pe.is_pe && !pe.is_pe32_plus && pe.machine == 0x14C) return Target::kWin32;
  if (pe.is_pe && pe.is_pe32_plus && pe.machine == 0x8664) return Target::kWin64;
  if (size >= 16 && std::memcmp(data, "\x7F" "ELF", 4) == 0) return Target::kLinux;
  return Target::kUnknown;
}

std::string DescribeImage(const unsigned char* data, std::uint64_t size) {
  const config::PeHeaderFields pe = config::FindPeHeaderFields(data, size);
  if (pe.is_pe) {
    std::string text = pe.is_pe32_plus ? "PE32+" : "PE32";
    const bool i386 = pe.machine == 0x14C && !pe.is_pe32_plus;
    const bool x86_64 = pe.machine == 0x8664 && pe.is_pe32_plus;
    return (i386 ? "win32 " : x86_64 ? "win64 " : "unsupported ") + text +
           (pe.machine == 0x14C ? " (i386)" : pe.machine == 0x8664 ? " (x86-64)" : "");
  }
  if (size >= 20 && std::memcmp(data, "\x7F" "ELF", 4) == 0) {
    const unsigned machine = ReadLe16(data + 18);
    std::string text = std::string("linux ELF") + (data[4] == 2 ? "64" : "32");
    if (machine == 62) text += " (x86-64)";
    return text;
  }
  return "unknown format";
}

std::uint64_t CountRecordMagic(const unsigned char* data, std::uint64_t size, std::uint64_t& first) {
  std::uint64_t count = 0;
  if (size < kRecordMagicSize) return 0;
  const unsigned char* end = data + size - kRecordMagicSize + 1;
  for (const unsigned char* at = data; at < end;) {
    const void* hit = std::memchr(at, kRecordMagic[0], static_cast<std::size_t>(end - at));
    if (hit == nullptr) break;
    const unsigned char* p = static_cast<const unsigned char*>(hit);
    if (std::memcmp(p, kRecordMagic, kRecordMagicSize) == 0) {
      if (count++ == 0) first = static_cast<std::uint64_t>(p - data);
    }
    at = p + 1;
  }
  return count;
}

}  // namespace nxo::tool
