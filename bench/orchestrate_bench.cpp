// Cost of one mediator address lookup as clock_drift_repair makes it per
// meter: a platform list of the app's machines (loopback HTTP, connections
// kept alive per thread), its filtering and conversion; and one DNS question
// to a loopback name server (dnsmasq) for the public-address mode.
#include <httplib.h>

#include <thread>

#include <benchmark/benchmark.h>

#include "orchestrate/adapter/dns.hpp"
#include "orchestrate/adapter/machines_orchestrator.hpp"
#include "support/dns_server.hpp"

using namespace meterops;
using namespace meterops::orchestrate;
using Json = nlohmann::ordered_json;

namespace {

// A platform list endpoint answering `machines` mediator machines.
struct Platform {
  httplib::Server server;
  int port;
  std::thread thread;
  explicit Platform(int machines) {
    Json list = Json::array();
    for (int i = 0; i < machines; ++i) {
      list.push_back({{"id", "id" + std::to_string(i)}, {"name", "mediator-S" + std::to_string(i)}, {"state", "started"},
                      {"instance_id", "i"},
                      {"config", {{"image", "img"}, {"services", {{{"ports", {{{"port", 50051}}}}}}},
                                  {"env", {{"VANTOR_HOST", "10.0.0.1"}}},
                                  {"metadata", {{"meter_id", "m" + std::to_string(i)}, {"vantor_host", "10.0.0.1"}}}}}});
    }
    std::string body = list.dump();
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(1000000);
    server.Get(".*", [body](const httplib::Request&, httplib::Response& res) { res.set_content(body, "application/json"); });
    port = server.bind_to_any_port("127.0.0.1");
    thread = std::thread([this] { server.listen_after_bind(); });
    for (int i = 0; i < 500 && !server.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
};

// Kept for the process: a kept-alive connection would hold stop() for seconds.
Platform& platform(int machines) {
  static std::map<int, Platform*> all;
  static std::mutex mu;
  std::lock_guard lock(mu);
  auto& p = all[machines];
  if (!p) p = new Platform(machines);
  return *p;
}

void BM_MediatorAddress(benchmark::State& state) {
  int machines = static_cast<int>(state.range(0));
  auto& p = platform(machines);
  MachinesSettings s;
  s.api_base_url = "http://127.0.0.1:" + std::to_string(p.port);
  MachinesOrchestrator orch("t", "127.0.0.1", "img", "app", std::nullopt, std::nullopt, std::nullopt, s);
  int i = 0;
  for (auto _ : state) {
    auto address = orch.mediator_address("m" + std::to_string(i++ % machines), "S");
    benchmark::DoNotOptimize(address);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MediatorAddress)->Arg(10)->Arg(1000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MediatorAddress)->Arg(10)->Threads(5)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_ResolveFirst(benchmark::State& state) {
  static auto* dns = new meterops::testing::DnsServer({"mediators-acme.fly.test,127.0.0.7"});
  for (auto _ : state) {
    auto address = resolve_first("mediators-acme.fly.test", dns->server(), RecordType::A);
    benchmark::DoNotOptimize(address);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ResolveFirst)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
