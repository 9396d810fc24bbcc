#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "support/mediator_sim.hpp"
#include "support/pg.hpp"
#include "support/process.hpp"

namespace mt = meterops::testing;
using nlohmann::json;

namespace {

const char* kFleet = R"SQL(
INSERT INTO escos (id, code) VALUES ('e1', 'Acme'), ('e2', 'a_me'), ('e3', 'Empty');
INSERT INTO meter_registry (id, serial, esco, mode, ip_address, hardware, firmware_version, prepay_enabled) VALUES
  ('m1', 'S1', 'e1', 'active', '10.0.0.1', 'P1.ax', '1.0', false),
  ('m2', 'S2', 'e1', 'active', '10.0.0.2', NULL, NULL, NULL),
  ('m3', 'S3', 'e1', 'active', '10.0.0.3', 'P3.ax', '2.0', NULL),
  ('m4', 'S4', 'e1', 'active', NULL, 'P1.ax', '1.0', NULL),
  ('m5', 'S5', 'e1', 'inactive', '10.0.0.5', 'P1.ax', '1.0', NULL),
  ('m6', 'S6', 'e2', 'active', '10.0.0.6', 'P1.ax', '1.0', NULL);
INSERT INTO meter_metrics (name, run_frequency, enabled) VALUES
  ('EnergyTotalsSyncer', 'hourly', true), ('ModelCodeSyncer', 'hourly', true), ('FirmwareLevelSyncer', 'hourly', true),
  ('PaymentModeSyncer', 'hourly', true), ('TariffStateSyncer', 'hourly', true), ('EventJournalSyncer', 'hourly', true),
  ('NoSuchSyncer', 'hourly', true), ('EnergyTotalsSyncer', 'daily', true), ('TariffStateSyncer', 'hourly', false);
)SQL";

json fleet() {
  json events = json::array();
  for (int i = 0; i < 4; ++i) events.push_back({{"timestamp", 789000000 - i * 60}, {"event_id", 3 + i}, {"event_set", 1}});
  return {{"S1", {{"hardware", "P1.ax"}, {"firmware_version", "1.1"}, {"prepay_enabled", true},
                  {"element_a", {{"import_active", 1.5}, {"export_active", 0.25}}},
                  {"element_b", {{"import_active", 2.5}, {"export_active", 0.5}}},
                  {"tariffs_active", {{"rate", 0.3}}}, {"events", events}}},
          {"S2", {{"hardware", "P1.cx"}, {"fail", {{"operation", "*"}, {"status", "UNAVAILABLE"}}}}},
          {"S3", {{"hardware", "P3.ax"}, {"firmware_version", "2.0"}, {"three_phase", {{"active_import", 9.5}, {"active_export", 1.0}}}}}};
}

mt::ProcessResult fleet_sync(const mt::TestDatabase& db, const mt::MediatorSim& sim, std::vector<std::string> args,
                             std::map<std::string, std::optional<std::string>> env = {}) {
  mt::ProcessOptions o;
  o.env = {{"SUPABASE_URL", db.url()}, {"SUPABASE_ANON_KEY", "anon"}, {"FLOWS_ROLE_KEY", "role"},
           {"MEDIATOR_SERVER", sim.address()}, {"MAX_PARALLEL_JOBS", std::nullopt}, {"LOG_FORMAT", std::nullopt},
           {"LOG_LEVEL", std::nullopt}, {"THREE_PHASE_FAMILIES", std::nullopt}};
  for (auto& [k, v] : env) o.env[k] = v;
  return mt::run_process(mt::bin_path("fleet_sync"), args, o);
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(FleetSync, SettingsAndUsageErrors) {
  mt::TestDatabase db;
  mt::MediatorSim sim;
  struct Case {
    std::vector<std::string> args;
    std::map<std::string, std::optional<std::string>> env;
    int status;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"--freq", "hourly"}, {{"SUPABASE_URL", std::nullopt}}, 2,
       "Environment variables SUPABASE_URL and SUPABASE_ANON_KEY not set."},
      {{"--freq", "hourly"}, {{"SUPABASE_ANON_KEY", ""}}, 2, "Environment variables SUPABASE_URL and SUPABASE_ANON_KEY not set."},
      {{"--freq", "hourly"}, {{"FLOWS_ROLE_KEY", std::nullopt}}, 3, "Environment variable FLOWS_ROLE_KEY not set."},
      {{"--freq", "hourly"}, {{"MEDIATOR_SERVER", ""}}, 4, "Environment variable MEDIATOR_SERVER not set."},
      {{"--freq", "weekly"}, {}, 2, "usage:"},
      {{}, {}, 2, "--freq"},
      {{"--freq", "hourly", "--esco", "ac*"}, {}, 2, "may not contain '*'"},
      {{"--freq", "hourly"}, {{"MAX_PARALLEL_JOBS", "many"}}, 1, "MAX_PARALLEL_JOBS must be a whole number"},
      {{"--freq", "hourly", "--esco", "nobody"}, {}, 10, "no esco found for nobody"},
      {{"--freq", "hourly", "--esco", "%"}, {}, 10, "no esco found for %"},
      {{"--freq", "hourly", "--esco", "Empt_"}, {}, 10, "no esco found for Empt_"},
      {{"--freq", "hourly"}, {{"MAX_PARALLEL_JOBS", "0"}}, 1, "MAX_PARALLEL_JOBS"},
      {{"--freq", "hourly", "--esco", "Empty", "extra"}, {}, 2, "usage:"},
      {{"--freq", "hourly", "--esco", "empty"}, {}, 11, "no meters record found"},
  };
  db.exec("INSERT INTO escos (id, code) VALUES ('e3', 'Empty')");
  for (const auto& c : cases) {
    auto r = fleet_sync(db, sim, c.args, c.env);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_TRUE(has(r.err, c.err)) << r.err;
    EXPECT_EQ(r.err.find("role"), std::string::npos) << "a key leaked: " << r.err;
  }
  EXPECT_TRUE(sim.journal().empty());
}

TEST(FleetSync, HappyPathStoresReadingsRegistryUpdatesAndEventsOnce) {
  mt::TestDatabase db;
  db.exec(kFleet);
  mt::MediatorSim sim(fleet());
  auto r = fleet_sync(db, sim, {"--freq", "hourly", "--esco", "ACME"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.err, "starting ..."));
  EXPECT_TRUE(has(r.err, "4 meters found"));
  EXPECT_TRUE(has(r.err, "3 meters after filtering"));
  EXPECT_TRUE(has(r.err, "failure occurred syncing metric NoSuchSyncer"));
  EXPECT_TRUE(has(r.err, "finished"));

  auto readings = db.query("SELECT meter_id, metric, value FROM meter_readings ORDER BY meter_id, metric");
  EXPECT_EQ(readings.dump(),
            R"([{"meter_id":"m1","metric":"export_a","value":0.25},{"meter_id":"m1","metric":"export_b","value":0.5},)"
            R"({"meter_id":"m1","metric":"import_a","value":1.5},{"meter_id":"m1","metric":"import_b","value":2.5},)"
            R"({"meter_id":"m1","metric":"tariffs_active","value":{"rate":0.3}},)"
            R"({"meter_id":"m3","metric":"export_a","value":1.0},{"meter_id":"m3","metric":"import_a","value":9.5}])");
  auto registry = db.query("SELECT id, hardware, firmware_version, prepay_enabled FROM meter_registry WHERE id IN ('m1','m2','m3') ORDER BY id");
  EXPECT_EQ(registry.dump(),
            R"([{"id":"m1","hardware":"P1.ax","firmware_version":"1.1","prepay_enabled":true},)"
            R"({"id":"m2","hardware":null,"firmware_version":null,"prepay_enabled":null},)"
            R"({"id":"m3","hardware":"P3.ax","firmware_version":"2.0","prepay_enabled":null}])");
  EXPECT_EQ(db.query("SELECT count(*) AS n FROM meter_event_log WHERE meter_id = 'm1'")[0]["n"], 4);
  // The unreachable meter's metrics are each logged with its id; the others completed.
  std::size_t m2_failures = 0;
  std::istringstream lines(r.err);
  for (std::string line; std::getline(lines, line);) {
    if (!has(line, "failure occurred syncing metric") || has(line, "NoSuchSyncer")) continue;
    EXPECT_TRUE(has(line, "meter_id=m2") && has(line, "UNAVAILABLE")) << line;
    ++m2_failures;
  }
  EXPECT_EQ(m2_failures, 5u);  // all but the energy totals, skipped without a model code
  // Inactive, unconnected and other-ESCO meters were never asked.
  for (const auto& call : sim.journal()) {
    EXPECT_TRUE(call["serial"] == "S1" || call["serial"] == "S2" || call["serial"] == "S3") << call.dump();
  }

  auto again = fleet_sync(db, sim, {"--freq", "hourly", "--esco", "acme"});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(db.query("SELECT count(*) AS n FROM meter_event_log")[0]["n"], 4);
  EXPECT_TRUE(has(again.err, "unseen events count"));
}

TEST(FleetSync, WithoutEscoTheWholeFleetRunsAndThePoolIsBounded) {
  mt::TestDatabase db;
  db.exec("INSERT INTO escos (id, code) VALUES ('e1', 'A'), ('e2', 'B')");
  std::string meters = "INSERT INTO meter_registry (id, serial, esco, mode, ip_address, hardware) VALUES ";
  for (int i = 0; i < 12; ++i) {
    meters += (i ? "," : "") + std::string("('m") + std::to_string(i) + "', 'S" + std::to_string(i) + "', 'e" +
              std::to_string(1 + i % 2) + "', 'active', '10.0.0." + std::to_string(i) + "', 'P1.ax')";
  }
  db.exec(meters + "; INSERT INTO meter_metrics (name, run_frequency, enabled) VALUES ('ModelCodeSyncer', 'daily', true)");
  mt::MediatorSim sim(json::object(), 100);
  auto r = fleet_sync(db, sim, {"--freq", "daily"}, {{"MAX_PARALLEL_JOBS", "3"}});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(sim.calls("hardware").size(), 12u);
  EXPECT_LE(sim.peak_concurrency(), 3);
  EXPECT_GE(sim.peak_concurrency(), 2);
}

TEST(FleetSync, UnsetPoolSizeRunsAtMostFifteenAtOnce) {
  mt::TestDatabase db;
  db.exec("INSERT INTO escos (id, code) VALUES ('e1', 'A')");
  std::string meters = "INSERT INTO meter_registry (id, serial, esco, mode, ip_address, hardware) VALUES ";
  for (int i = 0; i < 24; ++i) {
    meters += (i ? "," : "") + std::string("('m") + std::to_string(i) + "', 'S" + std::to_string(i) +
              "', 'e1', 'active', '10.0.0.1', 'P1.ax')";
  }
  db.exec(meters + "; INSERT INTO meter_metrics (name, run_frequency, enabled) VALUES ('ModelCodeSyncer', '12hourly', true)");
  mt::MediatorSim sim(json::object(), 400);
  auto r = fleet_sync(db, sim, {"--freq", "12hourly", "--esco", "a"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(sim.calls("hardware").size(), 24u);
  EXPECT_LE(sim.peak_concurrency(), 15);
  EXPECT_GT(sim.peak_concurrency(), 3);
}

TEST(FleetSync, ThreePhaseFamiliesComeFromTheEnvironment) {
  mt::TestDatabase db;
  db.exec("INSERT INTO escos (id, code) VALUES ('e1', 'A');"
          "INSERT INTO meter_registry (id, serial, esco, mode, ip_address, hardware) VALUES "
          "('m1', 'S1', 'e1', 'active', '10.0.0.1', 'X9.ax'), ('m2', 'S2', 'e1', 'active', '10.0.0.2', 'P3.ax'),"
          "('m3', 'S3', 'e1', 'active', '10.0.0.3', 'P1.ax');"
          "INSERT INTO meter_metrics (name, run_frequency, enabled) VALUES ('EnergyTotalsSyncer', 'daily', true)");
  mt::MediatorSim sim;
  auto r = fleet_sync(db, sim, {"--freq", "daily", "--esco", "A"}, {{"THREE_PHASE_FAMILIES", "P3, X9"}});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> three;
  for (const auto& c : sim.calls("three_phase_read")) three.push_back(c["serial"]);
  std::sort(three.begin(), three.end());
  EXPECT_EQ(three, (std::vector<std::string>{"S1", "S2"}));
  ASSERT_EQ(sim.calls("read_element_a").size(), 1u);
  EXPECT_EQ(sim.calls("read_element_a")[0]["serial"], "S3");
  EXPECT_EQ(db.query("SELECT count(*) AS n FROM meter_readings")[0]["n"], 2 + 2 + 4);
}
