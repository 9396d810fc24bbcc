#include "jobs/fleet_sync.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/mediator_sim.hpp"
#include "support/pg.hpp"
#include "util/errors.hpp"

namespace mt = meterops::testing;
using namespace meterops;
using nlohmann::json;

namespace {

// The settings as main() reads them: from the environment, which the job
// checks again.
jobs::FleetSyncSettings settings(const mt::TestDatabase& db, const mt::MediatorSim& sim, int pool) {
  ::setenv("SUPABASE_URL", db.url().c_str(), 1);
  ::setenv("SUPABASE_ANON_KEY", "anon", 1);
  ::setenv("FLOWS_ROLE_KEY", "role", 1);
  ::setenv("MEDIATOR_SERVER", sim.address().c_str(), 1);
  ::setenv("MAX_PARALLEL_JOBS", std::to_string(pool).c_str(), 1);
  return jobs::FleetSyncSettings::from_env();
}

std::vector<std::string> serials_asked(const mt::MediatorSim& sim, const std::string& op) {
  std::vector<std::string> out;
  for (const auto& c : sim.calls(op)) out.push_back(c["serial"]);
  return out;
}

}  // namespace

TEST(FleetSyncJob, ConnectedMeansAnyIpAddressText) {
  const std::vector<std::pair<util::Row, bool>> cases = {
      {{{"ip_address", "10.0.0.1"}}, true},
      {{{"ip_address", ""}}, true},
      {{{"ip_address", nullptr}}, false},
      {{{"id", "m1"}}, false},
  };
  for (const auto& [row, connected] : cases) EXPECT_EQ(jobs::filter_connected(row), connected) << row.dump();
}

TEST(FleetSyncJob, MetersRunInSerialOrderAfterBothFilters) {
  mt::TestDatabase db;
  db.exec("INSERT INTO escos (id, code) VALUES ('e1', 'Acme');"
          "INSERT INTO meter_registry (id, serial, esco, mode, ip_address, hardware) VALUES "
          "('m1', 'S4', 'e1', 'active', '10.0.0.1', 'P1.ax'), ('m2', 'S1', 'e1', 'active', '', 'P1.ax'),"
          "('m3', 'S3', 'e1', 'active', NULL, 'P1.ax'), ('m4', 'S2', 'e1', 'active', '10.0.0.4', 'P1.ax'),"
          "('m5', 'S0', 'e1', 'active', '10.0.0.5', 'P1.ax');"
          "INSERT INTO meter_metrics (name, run_frequency, enabled) VALUES ('ModelCodeSyncer', 'daily', true)");
  mt::MediatorSim sim;
  util::LogCapture cap;
  jobs::FleetSyncJob job(settings(db, sim, 1), [](const util::Row& m) { return m["serial"] != "S0"; }, "daily", "acme");
  job.run();
  EXPECT_EQ(serials_asked(sim, "hardware"), (std::vector<std::string>{"S1", "S2", "S4"}));
  EXPECT_TRUE(cap.contains("5 meters found", util::Level::info));
  EXPECT_TRUE(cap.contains("3 meters after filtering", util::Level::info));
  auto started = cap.find("run_job", util::Level::info);
  ASSERT_EQ(started.size(), 3u);
  EXPECT_EQ(started[0].fields["meter_id"], "m2");
  EXPECT_EQ(started[0].fields["esco"], "acme");
}

TEST(FleetSyncJob, AMeterThatFailsIsLoggedAndTheOthersComplete) {
  mt::TestDatabase db;
  db.exec("INSERT INTO escos (id, code) VALUES ('e1', 'Acme');"
          "INSERT INTO meter_registry (id, serial, esco, mode, ip_address, hardware) VALUES "
          "('m1', 'S1', 'e1', 'active', '10.0.0.1', NULL), ('m2', 'S2', 'e1', 'active', '10.0.0.2', NULL),"
          "('m3', 'S3', 'e1', 'active', '10.0.0.3', NULL);"
          "INSERT INTO meter_metrics (name, run_frequency, enabled) VALUES ('ModelCodeSyncer', 'hourly', true)");
  mt::MediatorSim sim(json{{"S1", {{"hardware", "P1.ax"}}}, {"S3", {{"hardware", "P3.ax"}}}});
  util::LogCapture cap;
  // m2 leaves the registry after the selection and before its refresh.
  jobs::FleetSyncJob job(
      settings(db, sim, 2),
      [&db](const util::Row& m) {
        if (m["id"] == "m2") db.exec("DELETE FROM meter_registry WHERE id = 'm2'");
        return true;
      },
      "hourly", "Acme");
  EXPECT_NO_THROW(job.run());
  auto failed = cap.find("failure occured syncing meter m2", util::Level::error);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_NE(failed[0].fields["error"].get<std::string>().find("meter m2 not found"), std::string::npos);
  EXPECT_TRUE(failed[0].fields["exception"].is_array());
  EXPECT_EQ(cap.find("failure occured syncing meter m1").size() + cap.find("failure occured syncing meter m3").size(), 0u);
  EXPECT_EQ(db.query("SELECT id, hardware FROM meter_registry ORDER BY id").dump(),
            R"([{"id":"m1","hardware":"P1.ax"},{"id":"m3","hardware":"P3.ax"}])");
  EXPECT_TRUE(cap.contains("finished", util::Level::info));
}

TEST(FleetSyncJob, NoConnectedMeterRunsNothingAndFinishes) {
  mt::TestDatabase db;
  db.exec("INSERT INTO escos (id, code) VALUES ('e1', 'Acme');"
          "INSERT INTO meter_registry (id, serial, esco, mode, ip_address) VALUES "
          "('m1', 'S1', 'e1', 'active', NULL), ('m2', 'S2', 'e1', 'active', NULL);"
          "INSERT INTO meter_metrics (name, run_frequency, enabled) VALUES ('ModelCodeSyncer', 'hourly', true)");
  mt::MediatorSim sim;
  util::LogCapture cap;
  jobs::FleetSyncJob(settings(db, sim, 15), nullptr, "hourly", "ACME").run();
  EXPECT_TRUE(cap.contains("2 meters found"));
  EXPECT_TRUE(cap.contains("0 meters after filtering"));
  EXPECT_TRUE(cap.find("run_job").empty());
  EXPECT_TRUE(cap.contains("finished"));
  EXPECT_TRUE(sim.journal().empty());
}

TEST(FleetSyncJob, LookupOutcomesEndTheRunWithTheirStatus) {
  mt::TestDatabase db;
  db.exec("INSERT INTO escos (id, code) VALUES ('e1', 'Acme'), ('e2', 'Idle');"
          "INSERT INTO meter_registry (id, serial, esco, mode, ip_address) VALUES ('m1', 'S1', 'e2', 'inactive', '10.0.0.1')");
  mt::MediatorSim sim;
  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {"Nobody", 10, "no esco found for Nobody"},
      {"A_me", 10, "no esco found for A_me"},
      {"idle", 11, "no meters record found"},
  };
  for (const auto& [code, status, message] : cases) {
    util::LogCapture cap;
    try {
      jobs::FleetSyncJob(settings(db, sim, 2), nullptr, "hourly", code).run();
      ADD_FAILURE() << code << ": no exit";
    } catch (const util::ExitRequest& e) {
      EXPECT_EQ(e.status, status) << code;
    }
    EXPECT_TRUE(cap.contains(message, util::Level::error)) << code;
    EXPECT_FALSE(cap.contains("finished")) << code;
  }
}

TEST(FleetSyncJob, TheEnvironmentCheckStopsAtTheFirstMissingSetting) {
  mt::TestDatabase db;
  mt::MediatorSim sim;
  const std::vector<std::tuple<const char*, int, std::string>> cases = {
      {"SUPABASE_ANON_KEY", 2, "Environment variables SUPABASE_URL and SUPABASE_ANON_KEY not set."},
      {"FLOWS_ROLE_KEY", 3, "Environment variable FLOWS_ROLE_KEY not set."},
      {"MEDIATOR_SERVER", 4, "Environment variable MEDIATOR_SERVER not set."},
  };
  for (const auto& [cleared, status, message] : cases) {
    auto s = settings(db, sim, 2);
    ::setenv(cleared, "", 1);
    util::LogCapture cap;
    try {
      jobs::FleetSyncJob job(s, nullptr, "hourly", "Acme");
      ADD_FAILURE() << cleared << ": no exit";
    } catch (const util::ExitRequest& e) {
      EXPECT_EQ(e.status, status);
    }
    auto errors = cap.find(message, util::Level::error);
    ASSERT_EQ(errors.size(), 1u) << cleared;
    EXPECT_EQ(errors[0].fields["esco"], "Acme");
  }
}
