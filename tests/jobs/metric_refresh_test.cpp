#include "jobs/metric_refresh.hpp"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <thread>

#include "support/mediator_sim.hpp"
#include "support/pg.hpp"
#include "support/process.hpp"
#include "util/errors.hpp"

namespace mt = meterops::testing;
using namespace meterops;

namespace {

// A loopback REST database that knows one meter and answers the metric
// list with `metrics_status`; stop() makes it unreachable.
class OneMeterRest {
 public:
  explicit OneMeterRest(int metrics_status) {
    server_.Get("/rest/v1/meter_registry", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(R"([{"serial":"S1"}])", "application/json");
    });
    server_.Get("/rest/v1/meter_metrics", [metrics_status](const httplib::Request&, httplib::Response& res) {
      res.status = metrics_status;
      res.set_content(metrics_status == 200 ? "[]" : R"({"message":"relation is being rebuilt"})", "application/json");
    });
    server_.set_keep_alive_max_count(1);  // no idle connection keeps stop() waiting
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    for (int i = 0; i < 500 && !server_.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ~OneMeterRest() { stop(); }
  void stop() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

}  // namespace

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

TEST(MetricRefresh, MissingMeterStopsConstruction) {
  mt::TestDatabase db;
  try {
    jobs::MetricRefreshJob({"ghost", "127.0.0.1:1", db.url(), "k", "r", "daily", false});
    ADD_FAILURE();
  } catch (const util::GeneralError& e) {
    EXPECT_STREQ(e.what(), "meter ghost not found");
  }
}

TEST(MetricRefresh, NoEnabledRowsForTheFrequencyDoesNothing) {
  mt::TestDatabase db;
  db.exec("INSERT INTO meter_registry (id, serial, mode) VALUES ('m1', 'S1', 'active');"
          "INSERT INTO meter_metrics (name, run_frequency, enabled) VALUES ('ModelCodeSyncer', 'daily', false),"
          "('ModelCodeSyncer', 'hourly', true)");
  mt::MediatorSim sim;
  util::LogCapture cap;
  jobs::MetricRefreshJob({"m1", sim.address(), db.url(), "k", "r", "daily", false}).sync();
  EXPECT_TRUE(sim.journal().empty());
  for (const auto& r : cap.records()) EXPECT_NE(r.level, util::Level::error) << r.event;
}

TEST(MetricRefresh, MetricListQueryFailures) {
  {
    // Unreachable once the job is built: reported once through the bound logger, sync() returns.
    OneMeterRest rest(200);
    jobs::MetricRefreshJob job({"m1", "127.0.0.1:1", rest.url(), "anon-key", "secret-role-key", "daily", false});
    EXPECT_EQ(job.serial(), "S1");
    rest.stop();
    util::LogCapture cap;
    EXPECT_NO_THROW(job.sync());
    std::vector<util::LogRecord> errors;
    for (const auto& r : cap.records()) {
      if (r.level == util::Level::error) errors.push_back(r);
    }
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].fields["meter_id"], "m1");
    EXPECT_EQ(errors[0].fields["mediator_address"], "127.0.0.1:1");
    EXPECT_EQ(errors[0].fields.dump().find("secret-role-key"), std::string::npos);
  }
  {
    // Any other failure of the list query reaches the caller.
    OneMeterRest rest(500);
    jobs::MetricRefreshJob job({"m1", "127.0.0.1:1", rest.url(), "anon-key", "role-key", "daily", false});
    EXPECT_THROW(job.sync(), util::GeneralError);
  }
}
