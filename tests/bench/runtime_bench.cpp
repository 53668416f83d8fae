// Cost of what start-up asks of the runtime subsystem before the JVM
// exists: the JRE search and both class paths, for a typical application
// that ships its runtime beside the executable and a few library folders.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/launch_config.h"
#include "platform/platform.h"
#include "runtime/class_path.h"
#include "runtime/java_layout.h"
#include "runtime/jre_search.h"

namespace {

namespace fs = std::filesystem;

void Touch(const fs::path& path) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << "x";
}

// An application directory: a bundled runtime, 12 jars in two library
// folders (one nested), 4 plug-in archives.
struct Application {
  Application() {
    root = fs::temp_directory_path() / ("nxo-runtime-bench-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::string lib = nxo::runtime::JvmLibraryName();
    Touch(root / "jre" / nxo::runtime::RuntimeHomeSuffixes()[1] / "server" / lib);
    for (int i = 0; i < 8; ++i) Touch(root / "lib" / ("dep" + std::to_string(i) + ".jar"));
    for (int i = 0; i < 4; ++i) Touch(root / "lib" / "extra" / ("more" + std::to_string(i) + ".jar"));
    for (int i = 0; i < 4; ++i) Touch(root / "plugins" / ("plugin" + std::to_string(i) + ".zip"));
    Touch(root / "lib" / "README.txt");
  }
  ~Application() { fs::remove_all(root); }

  nxo::config::LaunchConfig Config(const std::string& lines) const {
    nxo::config::ConfigSource source;
    source.executable_path = (root / "app.exe").string();
    source.current_directory = root.string();
    nxo::config::LaunchConfig config(source);
    config.SetTextForTesting(lines, 0);
    return config;
  }

  fs::path root;
};

const char* const kTypicalLines =
    "mainclass com.example.Main\r\n"
    "jre_order bse\r\n"
    "java_classpath app.jar;resources\r\n"
    "java_libs lib\r\n"
    "classpath conf\r\n"
    "libs plugins\r\n"
    "option -Xmx512m\r\n";

void BM_SearchAndClassPaths(benchmark::State& state) {
  Application app;
  nxo::config::LaunchConfig config = app.Config(kTypicalLines);
  for (auto _ : state) {
    std::string library = nxo::runtime::JvmLibrarySearch().Locate(config);
    std::string jvm = nxo::runtime::BuildClassPath(config, nxo::runtime::ClassPathKind::kJvm);
    std::string extra = nxo::runtime::BuildClassPath(config, nxo::runtime::ClassPathKind::kExtra);
    if (library.empty()) state.SkipWithError("the bundled runtime was not found");
    benchmark::DoNotOptimize(library);
    benchmark::DoNotOptimize(jvm);
    benchmark::DoNotOptimize(extra);
  }
}
BENCHMARK(BM_SearchAndClassPaths)->Unit(benchmark::kMicrosecond);

void BM_SearchOnly(benchmark::State& state) {
  Application app;
  nxo::config::LaunchConfig config = app.Config(kTypicalLines);
  for (auto _ : state) benchmark::DoNotOptimize(nxo::runtime::SearchJvmLibrary(config));
}
BENCHMARK(BM_SearchOnly)->Unit(benchmark::kMicrosecond);

void BM_RememberedSearch(benchmark::State& state) {
  Application app;
  nxo::config::LaunchConfig config = app.Config(kTypicalLines);
  nxo::runtime::JvmLibrarySearch search;
  for (auto _ : state) benchmark::DoNotOptimize(search.Locate(config));
}
BENCHMARK(BM_RememberedSearch);

}  // namespace

BENCHMARK_MAIN();
