#include "jobs/metric_refresh.hpp"

#include <gtest/gtest.h>

#include "support/mediator_sim.hpp"
#include "support/pg.hpp"
#include "support/process.hpp"
#include "util/errors.hpp"

namespace mt = meterops::testing;
using namespace meterops;

TEST(SyncerRegistry, FindsExactNamesOnly) {
  EXPECT_TRUE(jobs::find_syncer_class("ModelCodeSyncer").has_value());
  EXPECT_TRUE(jobs::find_syncer_class("EventJournalSyncer").has_value());
  EXPECT_FALSE(jobs::find_syncer_class("modelcodesyncer").has_value());
  EXPECT_FALSE(jobs::find_syncer_class("").has_value());
}

TEST(MetricRefresh, AFailingMetricDoesNotStopTheOthers) {
  mt::TestDatabase db;
  db.exec("INSERT INTO meter_registry (id, serial, mode, hardware) VALUES ('m1', 'S1', 'active', NULL);"
          "INSERT INTO meter_metrics (name, run_frequency, enabled) VALUES ('ModelCodeSyncer', 'daily', true),"
          "('modelcodesyncer', 'daily', true), ('FirmwareLevelSyncer', 'daily', true), ('FirmwareLevelSyncer', 'hourly', true)");
  mt::MediatorSim sim(nlohmann::json{{"S1", {{"hardware", "P1.ax"}, {"firmware_version", "3.0"}}}});
  util::LogCapture cap;
  jobs::MetricRefreshJob job({"m1", sim.address(), db.url(), "k", "r", "daily", false});
  job.sync();
  auto fail = cap.find("failure occurred syncing metric modelcodesyncer", util::Level::error);
  ASSERT_EQ(fail.size(), 1u);
  EXPECT_EQ(fail[0].fields["meter_id"], "m1");
  EXPECT_TRUE(fail[0].fields["exception"].is_array());
  EXPECT_EQ(db.query("SELECT hardware, firmware_version FROM meter_registry")[0].dump(),
            R"({"hardware":"P1.ax","firmware_version":"3.0"})");
  EXPECT_EQ(sim.calls("firmware_version").size(), 1u);  // the hourly row did not run
}

TEST(MetricRefresh, MissingMeterAndUnreachableDatabase) {
  mt::TestDatabase db;
  try {
    jobs::MetricRefreshJob({"ghost", "127.0.0.1:1", db.url(), "k", "r", "daily", false});
    ADD_FAILURE();
  } catch (const util::GeneralError& e) {
    EXPECT_STREQ(e.what(), "meter ghost not found");
  }
}
