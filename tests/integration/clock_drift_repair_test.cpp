#include <gtest/gtest.h>

#include "support/fake_machines.hpp"
#include "support/mediator_sim.hpp"
#include "support/pg.hpp"
#include "support/process.hpp"

namespace mt = meterops::testing;
using nlohmann::json;

namespace {

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Rig {
  mt::TestDatabase db;
  mt::FakeMachines fly;
  mt::MediatorSim sim;
  int dns_port = mt::free_port();
  std::unique_ptr<mt::BackgroundProcess> dns;
  explicit Rig(json meters) : sim(meters) {
    dns = std::make_unique<mt::BackgroundProcess>(
        "/usr/sbin/dnsmasq",
        std::vector<std::string>{"--no-daemon", "--port=" + std::to_string(dns_port), "--listen-address=127.0.0.1",
                                 "--bind-interfaces", "--no-resolv", "--no-hosts", "--user=root", "--pid-file=",
                                 "--host-record=mediators-acme.fly.test,127.0.0.1"});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    db.exec(R"SQL(
INSERT INTO escos (id, code) VALUES ('e1', 'ACME'), ('e2', 'acme');
INSERT INTO meter_registry (id, serial, esco, mode) VALUES
  ('m1', 'S1', 'e1', 'active'), ('m2', 'S2', 'e1', 'active'), ('m3', 'S3', 'e1', 'active'),
  ('m4', 'S4', 'e1', 'inactive'), ('m5', 'S5', 'e2', 'active'), ('m6', 'S6', 'e1', 'active');
INSERT INTO meter_shadows (id, clock_time_diff_seconds) VALUES
  ('m1', 45), ('m2', 20), ('m3', 300), ('m4', 99), ('m5', 50), ('m6', 21);
)SQL");
    for (const char* m : {"1", "3", "5"}) fly.add_mediator(std::string("id") + m, std::string("S") + m, std::string("m") + m);
  }
  mt::ProcessResult run(std::vector<std::string> args, std::map<std::string, std::optional<std::string>> env = {}) {
    mt::ProcessOptions o;
    o.env = {{"SUPABASE_URL", db.url()}, {"SUPABASE_ANON_KEY", "anon"}, {"FLOWS_ROLE_KEY", "role"},
             {"FLY_API_TOKEN", "fly-secret"}, {"FLY_API_HOSTNAME", fly.url()}, {"MEDIATOR_APP", "mediators-acme"},
             {"MEDIATOR_USE_PRIVATE_ADDRESS", "false"}, {"FLY_PUBLIC_DOMAIN", ".fly.test"},
             {"PUBLIC_DNS_SERVER", "127.0.0.1:" + std::to_string(dns_port)}, {"MEDIATOR_PORT", std::to_string(sim.port())},
             {"MEDIATOR_DEADLINE_SECONDS", "1"}, {"LOG_FORMAT", std::nullopt}, {"MAX_PARALLEL_JOBS", std::nullopt},
             {"DRIFT_THRESHOLD_SECONDS", std::nullopt}};
    for (auto& [k, v] : env) o.env[k] = v;
    return mt::run_process(mt::bin_path("clock_drift_repair"), args, o);
  }
};

}  // namespace

TEST(ClockDriftRepair, RepairsOnlyDriftedActiveMetersWithContainers) {
  Rig r(json{{"S3", {{"delay_ms", 1500}}}});
  auto res = r.run({"--esco", "ACME"});
  ASSERT_EQ(res.status, 0) << res.err;
  // m1 (45) repaired; m2 (exactly 20) not selected; m3 times out; m6 has no container; m5 is another ESCO's.
  EXPECT_TRUE(has(res.err, "Post-filtered by esco ACME"));
  EXPECT_TRUE(has(res.err, "Found 3 meters with clock drift > 20s"));
  EXPECT_TRUE(has(res.err, "No mediator container exists for meter S6"));
  EXPECT_TRUE(has(res.err, "Deadline exceeded updating clock"));
  EXPECT_TRUE(has(res.err, "Finished clock update job. Success: 1/3"));
  auto rows = r.db.query("SELECT id, clock_time_diff_seconds AS d, clock_time_diff_synced_at IS NOT NULL AS synced "
                         "FROM meter_shadows ORDER BY id");
  EXPECT_EQ(rows.dump(),
            R"([{"id":"m1","d":0,"synced":true},{"id":"m2","d":20,"synced":false},{"id":"m3","d":300,"synced":false},)"
            R"({"id":"m4","d":99,"synced":false},{"id":"m5","d":50,"synced":false},{"id":"m6","d":21,"synced":false}])");
  // The timed-out call to S3 may still be running in the simulator.
  auto writes = r.sim.calls("clock_time_write");
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes[0]["serial"], "S1");
  EXPECT_FALSE(has(res.err, "fly-secret"));
}

TEST(ClockDriftRepair, SettingsAndQueryFailures) {
  Rig r(json::object());
  auto missing = r.run({}, {{"SUPABASE_URL", ""}});
  EXPECT_EQ(missing.status, 2);
  EXPECT_TRUE(has(missing.err, "Environment variables SUPABASE_URL and SUPABASE_ANON_KEY not set."));
  auto role = r.run({}, {{"FLOWS_ROLE_KEY", std::nullopt}});
  EXPECT_EQ(role.status, 3);
  EXPECT_TRUE(has(role.err, "Environment variable FLOWS_ROLE_KEY not set."));
  auto bad = r.run({}, {{"DRIFT_THRESHOLD_SECONDS", "abc"}});
  EXPECT_EQ(bad.status, 1);
  auto down = r.run({}, {{"SUPABASE_URL", "postgresql://postgres@127.0.0.1:" + std::to_string(mt::free_port()) + "/x"}});
  EXPECT_EQ(down.status, 1);
  EXPECT_TRUE(has(down.err, "Failed to query meter_shadows"));
  auto all = r.run({});
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_TRUE(has(all.err, "Found 4 meters with clock drift > 20s"));  // m1, m3, m5, m6 fleet-wide
  EXPECT_EQ(r.sim.calls("clock_time_write").size(), 3u);
}
