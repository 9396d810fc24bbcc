// Queries per second of a select by id, from 1 and 15 threads: PostgreSQL
// direct (needs METEROPS_TEST_PG, as the tests) and the REST backend against
// a loopback HTTP server, with connection reuse on and off.
#include <httplib.h>

#include <thread>

#include <benchmark/benchmark.h>

#include "support/pg.hpp"
#include "util/supabase.hpp"
#include "util/supabase/detail.hpp"

using namespace meterops;

namespace {

meterops::testing::TestDatabase& database() {
  static auto* db = [] {
    auto* d = new meterops::testing::TestDatabase();
    d->exec("INSERT INTO escos (id, code) VALUES ('e1', 'ACME');"
            "INSERT INTO meter_registry (id, serial, esco, mode) SELECT 'm' || g, 'S' || g, 'e1', 'active' FROM generate_series(1, 1000) g");
    return d;
  }();
  return *db;
}

struct Rest {
  httplib::Server server;
  int port;
  std::thread thread;
  Rest() {
    server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(1000000);  // its default closes every 5th request
    server.Get(".*", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(R"([{"id":"m1","serial":"S1"}])", "application/json");
    });
    port = server.bind_to_any_port("127.0.0.1");
    thread = std::thread([this] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
};

Rest& rest() {
  static auto* r = new Rest();
  return *r;
}

void select_by_id(benchmark::State& state, const util::Client& client) {
  int i = static_cast<int>(state.thread_index());
  for (auto _ : state) {
    auto r = client.table("meter_registry").select("id,serial").eq("id", "m" + std::to_string(1 + (i++ % 1000))).execute();
    benchmark::DoNotOptimize(r.data.size());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_PgDirect(benchmark::State& state) {
  static auto client = util::supa_client(database().url(), "k", "r");
  select_by_id(state, client);
}
BENCHMARK(BM_PgDirect)->Threads(1)->Threads(15)->UseRealTime();

void BM_RestKeepAlive(benchmark::State& state) {
  util::detail::set_http_keep_alive(true);
  static auto client = util::supa_client("http://127.0.0.1:" + std::to_string(rest().port), "k", "r");
  select_by_id(state, client);
}
BENCHMARK(BM_RestKeepAlive)->Threads(1)->Threads(15)->UseRealTime();

void BM_RestNoKeepAlive(benchmark::State& state) {
  util::detail::set_http_keep_alive(false);
  static auto client = util::supa_client("http://127.0.0.1:" + std::to_string(rest().port), "k", "r");
  select_by_id(state, client);
  util::detail::set_http_keep_alive(true);
}
BENCHMARK(BM_RestNoKeepAlive)->Threads(1)->Threads(15)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
