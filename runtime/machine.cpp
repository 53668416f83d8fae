#include "runtime/machine.h"

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace nxo::runtime {

namespace {

std::uint32_t Le16(const std::string& bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}

std::uint32_t Le32(const std::string& bytes, std::size_t at) {
  return Le16(bytes, at) | Le16(bytes, at + 2) << 16;
}

Machine FromPe(std::uint32_t machine) {
  switch (machine) {
    case 0x014c: return Machine::kX86;
    case 0x8664: return Machine::kX86_64;
    case 0x01c4: return Machine::kArm;
    case 0xaa64: return Machine::kArm64;
    default: return Machine::kOther;
  }
}

Machine FromElf(std::uint32_t machine) {
  switch (machine) {
    case 3: return Machine::kX86;
    case 62: return Machine::kX86_64;
    case 40: return Machine::kArm;
    case 183: return Machine::kArm64;
    default: return Machine::kOther;
  }
}

// The PE header sits where the DOS header's last field points; anything
// further than this is not a library a runtime ships.
constexpr std::uint32_t kMaxPeHeaderOffset = 1 << 16;

}  // namespace

Machine LibraryMachine(const std::string& path) {
  platform::RandomAccessFile file;
  std::string head;
  if (!file.Open(path) || !file.ReadAt(0, 64, head)) return Machine::kUnknown;
  if (head.compare(0, 4, "\x7f" "ELF") == 0) {
    // Byte 5 is the data encoding; every machine we name is little-endian.
    if (head[5] != 1) return Machine::kOther;
    return FromElf(Le16(head, 18));
  }
  if (head.compare(0, 2, "MZ") == 0) {
    const std::uint32_t pe_offset = Le32(head, 0x3c);
    std::string pe;
    if (pe_offset > kMaxPeHeaderOffset || !file.ReadAt(pe_offset, 6, pe)) return Machine::kUnknown;
    if (pe.compare(0, 4, std::string("PE\0\0", 4)) != 0) return Machine::kUnknown;
    return FromPe(Le16(pe, 4));
  }
  return Machine::kUnknown;
}

Machine OwnMachine() {
  // The running image's own header says what it was built for, on every
  // target alike; read once (a second thread that asks meanwhile reads it
  // too, with the same answer).
  static std::atomic<int> own{-1};
  int machine = own.load(std::memory_order_acquire);
  if (machine < 0) {
    machine = static_cast<int>(LibraryMachine(platform::ModuleFileName()));
    own.store(machine, std::memory_order_release);
  }
  return static_cast<Machine>(machine);
}

const char* MachineName(Machine machine) {
  switch (machine) {
    case Machine::kX86: return "x86";
    case Machine::kX86_64: return "x86-64";
    case Machine::kArm: return "ARM";
    case Machine::kArm64: return "ARM64";
    case Machine::kOther: return "another processor";
    case Machine::kUnknown: break;
  }
  return "unknown";
}

bool Loadable(Machine machine) {
  return machine == Machine::kUnknown || OwnMachine() == Machine::kUnknown ||
         machine == OwnMachine();
}

}  // namespace nxo::runtime
