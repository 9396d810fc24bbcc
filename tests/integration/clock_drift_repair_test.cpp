// clock_drift_repair as a process against the test database, mediator_sim,
// the loopback platform fake and a loopback name server.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "support/dns_server.hpp"
#include "support/fake_machines.hpp"
#include "support/mediator_sim.hpp"
#include "support/pg.hpp"
#include "support/process.hpp"

namespace mt = meterops::testing;
using nlohmann::json;

namespace {

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The JSON log lines of a run.
std::vector<json> log_lines(const std::string& err) {
  std::vector<json> out;
  std::istringstream in(err);
  std::string line;
  while (std::getline(in, line)) {
    auto j = json::parse(line, nullptr, false);
    if (j.is_object()) out.push_back(j);
  }
  return out;
}

std::vector<json> events(const std::string& err, const std::string& event) {
  std::vector<json> out;
  for (auto& l : log_lines(err)) {
    if (l.value("event", "") == event) out.push_back(l);
  }
  return out;
}

// ESCO "ACME" (e1) and another ESCO whose code differs only in letter case.
const char* kFleet = R"SQL(
INSERT INTO escos (id, code) VALUES ('e1', 'ACME'), ('e2', 'acme');
INSERT INTO meter_registry (id, serial, esco, mode) VALUES
  ('m1', 'S1', 'e1', 'active'), ('m2', 'S2', 'e1', 'active'), ('m3', 'S3', 'e1', 'active'),
  ('m4', 'S4', 'e1', 'inactive'), ('m5', 'S5', 'e2', 'active'), ('m6', 'S6', 'e1', 'active'),
  ('m7', 'S7', 'e1', 'active');
INSERT INTO meter_shadows (id, clock_time_diff_seconds) VALUES
  ('m1', 45), ('m2', 20), ('m3', 300), ('m4', 99), ('m5', 50), ('m6', 21), ('m7', 20.5);
)SQL";

struct Rig {
  mt::TestDatabase db;
  mt::FakeMachines fly;
  mt::MediatorSim sim;
  mt::DnsServer dns{{"mediators-acme.fly.test,127.0.0.1"}};
  explicit Rig(json meters) : sim(meters) {
    db.exec(kFleet);
    for (const char* m : {"1", "3", "5", "7"}) fly.add_mediator(std::string("id") + m, std::string("S") + m, std::string("m") + m);
  }
  mt::ProcessResult run(std::vector<std::string> args, std::map<std::string, std::optional<std::string>> env = {}) {
    mt::ProcessOptions o;
    o.env = {{"SUPABASE_URL", db.url()}, {"SUPABASE_ANON_KEY", "anon-key-secret"}, {"FLOWS_ROLE_KEY", "role-key-secret"},
             {"FLY_API_TOKEN", "fly-token-secret"}, {"FLY_API_HOSTNAME", fly.url()}, {"MEDIATOR_APP", "mediators-acme"},
             {"MEDIATOR_USE_PRIVATE_ADDRESS", "false"}, {"FLY_PUBLIC_DOMAIN", ".fly.test"},
             {"PUBLIC_DNS_SERVER", dns.server()}, {"MEDIATOR_PORT", std::to_string(sim.port())},
             {"MEDIATOR_DEADLINE_SECONDS", "1"}, {"LOG_FORMAT", "json"}, {"LOG_LEVEL", std::nullopt},
             {"MAX_PARALLEL_JOBS", std::nullopt}, {"DRIFT_THRESHOLD_SECONDS", std::nullopt}, {"ENV", std::nullopt}};
    for (auto& [k, v] : env) o.env[k] = v;
    o.timeout = std::chrono::seconds(60);
    auto res = mt::run_process(mt::bin_path("clock_drift_repair"), args, o);
    for (const char* secret : {"anon-key-secret", "role-key-secret", "fly-token-secret"}) {
      EXPECT_FALSE(has(res.err, secret) || has(res.out, secret)) << secret;
    }
    return res;
  }
  nlohmann::ordered_json shadows() {
    return db.query("SELECT id, clock_time_diff_seconds AS d, clock_time_diff_synced_at IS NOT NULL AS synced "
                    "FROM meter_shadows ORDER BY id");
  }
};

}  // namespace

TEST(ClockDriftRepair, RepairsOnlyDriftedMetersOfTheEsco) {
  Rig r(json{{"S3", {{"delay_ms", 1500}}}, {"S7", {{"fail", {{"status", "UNAVAILABLE"}}}}}});
  auto before = r.db.query("SELECT now() AS t")[0]["t"];
  auto res = r.run({"--esco", "ACME"});
  ASSERT_EQ(res.status, 0) << res.err;
  // m1 (45) repaired; m2 (exactly 20) not selected; m3 times out; m6 has no
  // container; m7 (20.5) fails at the mediator; m4 inactive; m5 another ESCO's.
  auto post = events(res.err, "Post-filtered by esco ACME");
  ASSERT_EQ(post.size(), 1u);
  EXPECT_EQ(post[0]["original_count"], 4);
  EXPECT_EQ(post[0]["filtered_count"], 4);
  auto found = events(res.err, "Found 4 meters with clock drift > 20s");
  ASSERT_EQ(found.size(), 1u);
  std::set<std::string> serials;
  for (const auto& d : found[0]["drifted_meters"]) {
    EXPECT_EQ(d.size(), 3u);  // id, serial, clock_time_diff_seconds
    serials.insert(d["serial"].get<std::string>());
  }
  EXPECT_EQ(serials, (std::set<std::string>{"S1", "S3", "S6", "S7"}));
  EXPECT_EQ(events(res.err, "No mediator container exists for meter S6").size(), 1u);

  auto deadline = events(res.err, "Deadline exceeded updating clock");
  ASSERT_EQ(deadline.size(), 1u);
  EXPECT_EQ(deadline[0]["serial"], "S3");
  EXPECT_FALSE(deadline[0].contains("exception"));  // the error text only
  auto mediator = events(res.err, "Mediator client error updating clock");
  ASSERT_EQ(mediator.size(), 1u);
  EXPECT_EQ(mediator[0]["serial"], "S7");
  EXPECT_TRUE(mediator[0]["exception"].is_array());

  auto updating = events(res.err, "Updating clock");
  ASSERT_EQ(updating.size(), 3u);
  for (const auto& u : updating) {
    EXPECT_EQ(u["mediator_address"], "127.0.0.1:" + std::to_string(r.sim.port()));
    EXPECT_EQ(u["esco"], "ACME");
  }
  EXPECT_EQ(events(res.err, "Clock update successful").size(), 1u);
  EXPECT_EQ(events(res.err, "Finished clock update job. Success: 1/4").size(), 1u);

  EXPECT_EQ(r.shadows().dump(),
            R"([{"id":"m1","d":0,"synced":true},{"id":"m2","d":20,"synced":false},{"id":"m3","d":300,"synced":false},)"
            R"({"id":"m4","d":99,"synced":false},{"id":"m5","d":50,"synced":false},{"id":"m6","d":21,"synced":false},)"
            R"({"id":"m7","d":20.5,"synced":false}])");
  // The repair time is now, in UTC.
  auto synced = r.db.query("SELECT clock_time_diff_synced_at BETWEEN '" + before.get<std::string>() +
                           "'::timestamptz AND now() AS fresh FROM meter_shadows WHERE id = 'm1'");
  EXPECT_EQ(synced[0]["fresh"], true);
  auto writes = r.sim.calls("clock_time_write");
  std::set<std::string> written;
  for (const auto& w : writes) written.insert(w["serial"].get<std::string>());
  // The timed-out call to S3 may still be running in the simulator.
  EXPECT_TRUE(written.count("S1") && written.count("S7") && !written.count("S6") && !written.count("S5"));
}

TEST(ClockDriftRepair, EscoCodeMatchesExactly) {
  Rig r(json::object());
  auto lower = r.run({"--esco", "acme"});
  ASSERT_EQ(lower.status, 0) << lower.err;
  EXPECT_EQ(events(lower.err, "Found 1 meters with clock drift > 20s").size(), 1u);  // m5 only
  EXPECT_EQ(events(lower.err, "Finished clock update job. Success: 1/1").size(), 1u);
  auto none = r.run({"--esco", "AC%"});
  ASSERT_EQ(none.status, 0) << none.err;
  EXPECT_EQ(events(none.err, "Found 0 meters with clock drift > 20s").size(), 1u);
}

TEST(ClockDriftRepair, NothingToRepair) {
  Rig r(json::object());
  auto res = r.run({}, {{"DRIFT_THRESHOLD_SECONDS", "1000"}});
  ASSERT_EQ(res.status, 0) << res.err;
  auto found = events(res.err, "Found 0 meters with clock drift > 1000s");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]["drifted_meters"], json::array());
  EXPECT_EQ(events(res.err, "No meters to update.").size(), 1u);
  EXPECT_TRUE(r.fly.requests().empty());  // no orchestrator call
}

TEST(ClockDriftRepair, WholeFleetInAPoolOfTheGivenSize) {
  Rig r(json{{"S1", {{"delay_ms", 200}}}, {"S3", {{"delay_ms", 200}}}, {"S5", {{"delay_ms", 200}}},
             {"S7", {{"delay_ms", 200}}}});
  auto res = r.run({}, {{"MAX_PARALLEL_JOBS", "2"}});
  ASSERT_EQ(res.status, 0) << res.err;
  EXPECT_EQ(events(res.err, "Found 5 meters with clock drift > 20s").size(), 1u);  // m1, m3, m5, m6, m7
  EXPECT_EQ(events(res.err, "Finished clock update job. Success: 4/5").size(), 1u);
  EXPECT_LE(r.sim.peak_concurrency(), 2);
  EXPECT_EQ(r.sim.calls("clock_time_write").size(), 4u);
}

TEST(ClockDriftRepair, SettingsAndFailures) {
  Rig r(json::object());
  struct Case {
    std::map<std::string, std::optional<std::string>> env;
    int status;
    std::string says;
  };
  const Case cases[] = {
      {{{"SUPABASE_URL", ""}}, 2, "Environment variables SUPABASE_URL and SUPABASE_ANON_KEY not set."},
      {{{"SUPABASE_ANON_KEY", std::nullopt}}, 2, "Environment variables SUPABASE_URL and SUPABASE_ANON_KEY not set."},
      {{{"FLOWS_ROLE_KEY", std::nullopt}}, 3, "Environment variable FLOWS_ROLE_KEY not set."},
      {{{"DRIFT_THRESHOLD_SECONDS", "abc"}}, 1, "DRIFT_THRESHOLD_SECONDS"},
      {{{"MAX_PARALLEL_JOBS", "2.5"}}, 1, "MAX_PARALLEL_JOBS"},
      {{{"FLY_API_TOKEN", std::nullopt}}, 1, "FLY_API_TOKEN"},
      {{{"SUPABASE_URL", "postgresql://postgres@127.0.0.1:" + std::to_string(mt::free_port()) + "/x"}}, 1,
       "Failed to query meter_shadows"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    auto res = r.run({}, c.env);
    EXPECT_EQ(res.status, c.status) << res.err;
    EXPECT_TRUE(has(res.err, c.says)) << res.err;
  }
  EXPECT_TRUE(r.sim.calls("clock_time_write").empty());
  EXPECT_EQ(r.shadows()[0]["d"], 45.0);
}

TEST(ClockDriftRepair, OrchestratorErrorEndsTheRun) {
  Rig r(json::object());
  // A mediator machine labelled for m3 whose configuration has no services.
  r.fly.add_machine({{"id", "bad"}, {"name", "mediator-S3b"}, {"state", "started"},
                     {"config", {{"image", "i"}, {"metadata", {{"meter_id", "m3"}}}}}});
  auto res = r.run({"--esco", "ACME"});
  EXPECT_EQ(res.status, 1);
  EXPECT_TRUE(has(res.err, "LookupError")) << res.err;
  EXPECT_TRUE(events(res.err, "Finished clock update job. Success: 3/4").empty());
  EXPECT_TRUE(log_lines(res.err).size() > 0);
  // The other workers still ran to the end.
  EXPECT_EQ(events(res.err, "Clock update successful").size(), 2u);  // m1, m7
}
