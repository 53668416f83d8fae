// Locating the payload and reading the configuration of a packed executable.
// The archive is never read, so a 200 MB executable should cost what a 1 MB
// one does.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/launch_config.h"

namespace {

std::string Le32(std::uint32_t v) {
  std::string b(4, '\0');
  for (int i = 0; i < 4; ++i) b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return b;
}

// An image of |total| bytes: a 200 kB program, a typical configuration block
// and an archive that fills the rest, ending in its end record.
std::string MakeExecutable(std::size_t total) {
  std::string path = (std::filesystem::temp_directory_path() /
                      ("nxo-bench-" + std::to_string(total) + ".exe")).string();
  std::string block = "\xEF\xBB\xBF";
  for (const char* line : {"mainclass com.example.Main", "jre_order cbsie", "option -Xmx256m",
                           "option -Dfile.encoding=UTF-8", "splashtitle Example",
                           "classpath lib/extra.jar", "minjre 1.8"})
    block += std::string(line) + "\r\n";
  block.push_back('\0');
  std::string head(200 * 1024, 'I');
  head += block + Le32(static_cast<std::uint32_t>(block.size())) + std::string(16, '\0');
  std::size_t archive = total - head.size();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(head.data(), static_cast<std::streamsize>(head.size()));
  std::string chunk(1 << 20, 'Z');
  std::size_t left = archive - 22;
  while (left > 0) {
    std::size_t n = left < chunk.size() ? left : chunk.size();
    out.write(chunk.data(), static_cast<std::streamsize>(n));
    left -= n;
  }
  // An empty directory that ends where the end record starts.
  std::string end = std::string("PK\x05\x06", 4) + std::string(8, '\0') + Le32(0) +
                    Le32(static_cast<std::uint32_t>(archive - 22)) + std::string(2, '\0');
  out.write(end.data(), 22);
  return path + "|" + std::to_string(archive);
}

void BM_ReadConfiguration(benchmark::State& state) {
  std::string made = MakeExecutable(static_cast<std::size_t>(state.range(0)) << 20);
  std::string path = made.substr(0, made.find('|'));
  nxo::config::ConfigSource source;
  source.executable_path = path;
  source.archive_length = static_cast<std::uint32_t>(std::stoul(made.substr(made.find('|') + 1)));
  source.current_directory = "/tmp";
  for (auto _ : state) {
    nxo::config::LaunchConfig config(source);
    std::string main_class =
        config.FindValue("mainclass", nxo::config::LookupScope::kEmbeddedOnly,
                         nxo::config::ValueForm::kAnsi);
    if (main_class != "com.example.Main") state.SkipWithError("configuration not found");
    benchmark::DoNotOptimize(main_class);
  }
  std::remove(path.c_str());
}

BENCHMARK(BM_ReadConfiguration)->Arg(1)->Arg(200)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
