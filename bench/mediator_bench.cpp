// Mediator calls per second against mediator_sim on loopback, from 1 and 15
// threads (the fleet sync pool size):
//   ClientPerMeter   a fresh client (own channel) per meter, three calls each,
//                    as the jobs build them per unit of work;
//   ClientPerThread  one long-lived client per thread;
//   SharedChannel    one channel shared by every thread.
// items_per_second is mediator calls per second.
#include <benchmark/benchmark.h>

#include "mediator/api_core.hpp"
#include "mediator/channel.hpp"
#include "support/mediator_sim.hpp"

using namespace meterops;

namespace {

meterops::testing::MediatorSim& sim() {
  static auto* s = new meterops::testing::MediatorSim();
  return *s;
}

std::string serial_for(const benchmark::State& state, int i) {
  return "S" + std::to_string(state.thread_index() * 1000000 + i);
}

void BM_ClientPerMeter(benchmark::State& state) {
  std::string address = sim().address();
  int i = 0;
  for (auto _ : state) {
    mediator::VantorMediatorAPI api(address);
    std::string serial = serial_for(state, i++);
    benchmark::DoNotOptimize(api.hardware(serial));
    benchmark::DoNotOptimize(api.read_element_a(serial));
    benchmark::DoNotOptimize(api.prepay_enabled(serial));
  }
  state.SetItemsProcessed(state.iterations() * 3);
}
BENCHMARK(BM_ClientPerMeter)->Threads(1)->Threads(15)->UseRealTime();

void BM_ClientPerThread(benchmark::State& state) {
  mediator::VantorMediatorAPI api(sim().address());
  int i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(api.hardware(serial_for(state, i++)));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ClientPerThread)->Threads(1)->Threads(15)->UseRealTime();

void BM_SharedChannel(benchmark::State& state) {
  static auto* shared = new mediator::detail::Channel(sim().address(), std::nullopt);
  int i = 0;
  for (auto _ : state) {
    mediator::v1::SerialRequest req;
    req.set_serial(serial_for(state, i++));
    mediator::v1::TextReply rep;
    shared->call("hardware", req.serial(),
                 [&](grpc::ClientContext& ctx) { return shared->mediator->Hardware(&ctx, req, &rep); });
    benchmark::DoNotOptimize(rep);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SharedChannel)->Threads(1)->Threads(15)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
