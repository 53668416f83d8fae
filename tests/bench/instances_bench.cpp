// What registration adds to every start: map the shared table, follow or
// become the owner, prune the list and add this process, then (at the end of
// the run) unmap it. Measured with 0 and with 10 live copies already listed,
// since pruning looks at each of them.
#include <benchmark/benchmark.h>

#include <string>

#include "instances/instance_table.h"
#include "instances/instances.h"
#include "platform/platform.h"

namespace {

using nxo::instances::InstanceTable;

void Registration(benchmark::State& state) {
  const int listed = static_cast<int>(state.range(0));
  const std::string appid = "nxo-bench-" + std::to_string(nxo::platform::CurrentProcessId());
  // A view of the table that outlives each start, to set up what it finds.
  nxo::platform::SharedRegion keeper;
  if (!keeper.Open(nxo::instances::MappingName(appid))) {
    state.SkipWithError("no shared region");
    return;
  }
  auto* table = reinterpret_cast<InstanceTable*>(keeper.Data());
  const std::int32_t own = nxo::platform::CurrentProcessId();
  for (auto _ : state) {
    state.PauseTiming();
    // A live owner (this process) and |listed| live copies before us.
    *table = InstanceTable{};
    table->instanceCount = listed;
    for (int i = 0; i < listed; ++i) {
      table->instanceIds[i] = own;
      table->instanceStamps[i] = nxo::platform::ProcessLifeStamp(own);
    }
    state.ResumeTiming();
    nxo::instances::InstanceGroup group;
    group.Open(appid);
    benchmark::DoNotOptimize(group.State());
    group.Close();
  }
}
BENCHMARK(Registration)->Arg(0)->Arg(10)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
