// Mediator calls per second against mediator_sim on loopback, from 1 and 15
// threads: one channel per client per unit of work (as the jobs build them)
// and one long-lived client per thread for comparison.
#include <benchmark/benchmark.h>

#include "mediator/api_core.hpp"
#include "support/mediator_sim.hpp"

using namespace meterops;

namespace {

meterops::testing::MediatorSim& sim() {
  static auto* s = new meterops::testing::MediatorSim();
  return *s;
}

// A fresh client for every meter: three calls, as a small refresh makes.
void BM_ClientPerMeter(benchmark::State& state) {
  std::string address = sim().address();
  int i = 0;
  for (auto _ : state) {
    mediator::VantorMediatorAPI api(address);
    std::string serial = "S" + std::to_string(state.thread_index() * 100000 + i++);
    benchmark::DoNotOptimize(api.hardware(serial));
    benchmark::DoNotOptimize(api.read_element_a(serial));
    benchmark::DoNotOptimize(api.prepay_enabled(serial));
  }
  state.SetItemsProcessed(state.iterations() * 3);
}
BENCHMARK(BM_ClientPerMeter)->Threads(1)->Threads(15)->UseRealTime();

void BM_LongLivedClient(benchmark::State& state) {
  mediator::VantorMediatorAPI api(sim().address());
  int i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(api.hardware("S" + std::to_string(i++)));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LongLivedClient)->Threads(1)->Threads(15)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
