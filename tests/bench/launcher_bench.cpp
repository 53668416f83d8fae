// The start-up integrity check of a packed executable: map it, locate the
// payload and compare the digest. It reads every byte up to the archive's
// end record, so its cost follows the file's size.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/integrity.h"
#include "config/payload.h"
#include "platform/platform.h"

namespace {

std::string Le32(std::uint32_t v) {
  std::string b(4, '\0');
  for (int i = 0; i < 4; ++i) b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return b;
}

// A file of |total| bytes laid out like a packed executable, with a digest
// that matches.
std::string MakeExecutable(std::size_t total, std::uint32_t& archive_length) {
  std::string path =
      (std::filesystem::temp_directory_path() / ("nxo-integrity-" + std::to_string(total))).string();
  std::string block = "\xEF\xBB\xBFmainclass com.example.Main\r\n";
  block.push_back('\0');
  std::string head(200 * 1024, 'I');
  head += block + Le32(static_cast<std::uint32_t>(block.size())) + std::string(16, '\0');
  std::string bytes = head;
  bytes.reserve(total);
  std::size_t archive = total - head.size();
  for (std::size_t i = 0; i + 22 < archive; ++i) bytes.push_back(static_cast<char>(i * 131));
  // An empty directory that ends where the end record starts.
  bytes += std::string("PK\x05\x06", 4) + std::string(8, '\0') + Le32(0) +
           Le32(static_cast<std::uint32_t>(archive - 22)) + std::string(2, '\0');
  archive_length = static_cast<std::uint32_t>(archive);
  nxo::config::PayloadLocation at = nxo::config::LocatePayload(
      reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), archive_length);
  unsigned char digest[16];
  nxo::config::ComputePayloadDigest(reinterpret_cast<const unsigned char*>(bytes.data()),
                                    bytes.size(), at, digest);
  bytes.replace(at.payload_position, 16, reinterpret_cast<const char*>(digest), 16);
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

void BM_VerifyIntegrity(benchmark::State& state) {
  std::uint32_t archive_length = 0;
  std::string path = MakeExecutable(static_cast<std::size_t>(state.range(0)) << 20, archive_length);
  for (auto _ : state) {
    nxo::platform::MappedFile image;
    bool ok = image.Open(path);
    nxo::config::PayloadLocation at =
        nxo::config::LocatePayload(image.Data(), image.Size(), archive_length);
    ok = ok && at.valid && nxo::config::PayloadDigestMatches(image.Data(), image.Size(), at);
    if (!ok) state.SkipWithError("digest does not match");
  }
  std::remove(path.c_str());
}

BENCHMARK(BM_VerifyIntegrity)->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
