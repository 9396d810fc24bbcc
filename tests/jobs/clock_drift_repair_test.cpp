// ClockDriftRepairJob in process: its settings, its environment check and
// the shape its unit of work accepts.
#include "jobs/clock_drift_repair.hpp"

#include <cstdlib>

#include <gtest/gtest.h>

#include "orchestrate/adapter/machines_orchestrator.hpp"
#include "support/fake_machines.hpp"
#include "support/pg.hpp"
#include "util/errors.hpp"

namespace mt = meterops::testing;
using namespace meterops;

TEST(ClockDriftRepairJob, Settings) {
  unsetenv("MAX_PARALLEL_JOBS");
  unsetenv("DRIFT_THRESHOLD_SECONDS");
  setenv("ENV", "prod", 1);
  auto s = jobs::ClockDriftSettings::from_env();
  EXPECT_EQ(s.max_parallel_jobs, 5);
  EXPECT_EQ(s.drift_threshold_seconds, 20);
  EXPECT_EQ(s.env, "prod");
  setenv("DRIFT_THRESHOLD_SECONDS", "", 1);  // empty: the default
  EXPECT_EQ(jobs::ClockDriftSettings::from_env().drift_threshold_seconds, 20);
  for (const char* bad : {"20s", "1e3", "x"}) {
    setenv("DRIFT_THRESHOLD_SECONDS", bad, 1);
    EXPECT_THROW(jobs::ClockDriftSettings::from_env(), util::ValueError) << bad;
  }
  unsetenv("DRIFT_THRESHOLD_SECONDS");
  setenv("MAX_PARALLEL_JOBS", "0", 1);  // a pool needs a worker
  EXPECT_THROW(jobs::ClockDriftSettings::from_env(), util::ValueError);
  unsetenv("MAX_PARALLEL_JOBS");
  unsetenv("ENV");
}

TEST(ClockDriftRepairJob, EnvironmentCheckComesFirst) {
  unsetenv("FLY_API_TOKEN");  // the orchestrator is never reached
  jobs::ClockDriftSettings none;
  jobs::ClockDriftSettings no_role;
  no_role.supabase_url = "postgresql://x";
  no_role.supabase_key = "k";
  for (const auto& [settings, status, env] :
       {std::tuple{none, 2, std::vector<const char*>{}},
        std::tuple{no_role, 3, std::vector<const char*>{"SUPABASE_URL", "SUPABASE_ANON_KEY"}}}) {
    for (const char* v : {"SUPABASE_URL", "SUPABASE_ANON_KEY", "FLOWS_ROLE_KEY"}) unsetenv(v);
    for (const char* v : env) setenv(v, "set", 1);
    util::LogCapture cap;
    try {
      jobs::ClockDriftRepairJob job(settings, "ACME");
      ADD_FAILURE();
    } catch (const util::ExitRequest& x) {
      EXPECT_EQ(x.status, status);
    }
    EXPECT_EQ(cap.records().size(), 1u);
    EXPECT_EQ(cap.records()[0].fields["esco"], "ACME");
  }
  for (const char* v : {"SUPABASE_URL", "SUPABASE_ANON_KEY", "FLOWS_ROLE_KEY"}) unsetenv(v);
}

TEST(ClockDriftRepairJob, UnitOfWorkTakesADriftRecord) {
  mt::TestDatabase db;
  mt::FakeMachines fly;
  jobs::ClockDriftSettings s;
  s.supabase_url = db.url();
  s.supabase_key = "anon";
  s.flows_role_key = "role";
  for (const char* v : {"SUPABASE_URL", "SUPABASE_ANON_KEY", "FLOWS_ROLE_KEY"}) setenv(v, "set", 1);
  orchestrate::MachinesSettings ms;
  ms.api_base_url = fly.url();
  auto orch = std::make_shared<orchestrate::MachinesOrchestrator>("t", "127.0.0.1", "img", "app", std::nullopt,
                                                                  std::nullopt, std::nullopt, ms);
  std::istringstream in;
  std::ostringstream out;
  orch->set_console(in, out);
  jobs::ClockDriftRepairJob job(s, std::nullopt, orch);
  EXPECT_THROW(job.run_job(util::Row::array({"m1", "S1"})), util::ArgumentTypeError);
  EXPECT_THROW(job.run_job(util::Row("m1")), util::ArgumentTypeError);
  util::LogCapture cap;
  EXPECT_FALSE(job.run_job({{"id", "m1"}, {"serial", "S1"}, {"clock_time_diff_seconds", 45}}));
  EXPECT_TRUE(cap.contains("No mediator container exists for meter S1", util::Level::error));
  EXPECT_EQ(out.str(), "no match for meters with id m1\n");
  for (const char* v : {"SUPABASE_URL", "SUPABASE_ANON_KEY", "FLOWS_ROLE_KEY"}) unsetenv(v);
}
