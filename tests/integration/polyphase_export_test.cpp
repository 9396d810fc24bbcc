// polyphase_export runs as processes against PostgreSQL and
// mediator_sim; the database state and the sim's call journal are checked.
#include <gtest/gtest.h>

#include "fleet_ops_fixture.hpp"

TEST(PolyphaseExport, EnvironmentChecksAndUsageErrors) {
  Fixture f;
  const std::vector<std::string> pe_args = {"--serial", "S5", "--folder", "/tmp/meterops-pe-unused", "--day", "2025-08-01"};
  expect_cli_cases(f, "polyphase_export", {
      {{"--serial", "S5", "--folder", "/tmp/x", "--day", "2025-08-01", "--end-day", "2025-08-02"}, {}, 2,
       "--start-day and --end-day must be used together"},
      {{"--serial", "S5", "--folder", "/tmp/x", "--start-day", "2025-08-01"}, {}, 2,
       "--start-day and --end-day must be used together"},
      {{"--serial", "S5", "--folder", "/tmp/x", "--day", "2025-08-01", "--start-day", "2025-08-01"}, {}, 2, "usage:"},
      {{"--serial", "S5", "--folder", "/tmp/x"}, {}, 2, "usage:"},
      {pe_args, {{"SUPABASE_ACCESS_TOKEN", ""}}, 1,
       "SUPABASE_URL, SUPABASE_ANON_KEY and/or SUPABASE_ACCESS_TOKEN not set"},
      {pe_args, {{"MEDIATOR_SERVER", std::nullopt}}, 1, "MEDIATOR_SERVER environment variable not set"},
      {{"--serial", "NOPE", "--folder", "/tmp/meterops-pe-unused", "--day", "2025-08-01"}, {}, 1, "meter NOPE not found"},
      {{"--serial", "../S5", "--folder", "/tmp/meterops-pe-unused", "--day", "2025-08-01"}, {}, 1,
       "cannot be used in a file name"},
  });
  fs::remove_all("/tmp/meterops-pe-unused");
}

TEST(PolyphaseExport, PolyphaseExportWritesOneFilePerDayAndKeepsEarlierDays) {
  Fixture f(json{{"S5", {{"polyphase_intervals", 3}}}});
  mt::TempDir dir;
  std::string folder = dir.path() + "/out/nested";
  auto r = run("polyphase_export", {"--serial", "S5", "--folder", folder, "--start-day", "2025-08-01", "--end-day", "2025-08-03",
                                    "--include-statuses"}, f.env());
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* d : {"2025-08-01", "2025-08-02", "2025-08-03"}) {
    EXPECT_TRUE(fs::exists(folder + "/S5_" + d + "_intervals.csv")) << d;
  }
  EXPECT_TRUE(has(r.err, "Successfully fetched polyphase_series"));
  auto one = run("polyphase_export", {"--serial", "S5", "--folder", folder, "--day", "2025-8-9"}, f.env());
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_TRUE(fs::exists(folder + "/S5_2025-8-9_intervals.csv"));
  EXPECT_EQ(f.sim.calls("polyphase_series").back()["day"], "2025-08-09");
  auto reversed = run("polyphase_export", {"--serial", "S5", "--folder", folder, "--start-day", "2025-08-05", "--end-day", "2025-08-01"}, f.env());
  EXPECT_EQ(reversed.status, 1);
  EXPECT_TRUE(has(reversed.err, "Invalid date format or range"));
  EXPECT_TRUE(has(reversed.err, "start_day must be before or equal to end_day"));
  auto bad_day = run("polyphase_export", {"--serial", "S5", "--folder", folder, "--day", "2025-08-01x"}, f.env());
  EXPECT_EQ(bad_day.status, 1);
  EXPECT_TRUE(has(bad_day.err, "Invalid date format or range"));
  EXPECT_FALSE(fs::exists(folder + "/S5_2025-08-01x_intervals.csv"));
  // A usage error comes before any folder is made.
  auto usage = run("polyphase_export", {"--serial", "S5", "--folder", dir.path() + "/never", "--start-day", "2025-08-01"}, f.env());
  EXPECT_EQ(usage.status, 2);
  EXPECT_FALSE(fs::exists(dir.path() + "/never"));
  EXPECT_EQ(f.sim.calls("polyphase_series").size(), 4u);  // three range days and the single day only
}

TEST(PolyphaseExport, PolyphaseExportStopsAtAMediatorFailure) {
  Fixture f(json{{"S1", {{"delay_ms", 0}}}});
  mt::TempDir dir;
  auto ok = run("polyphase_export", {"--serial", "S1", "--folder", dir.path(), "--start-day", "2025-08-01", "--end-day", "2025-08-02"}, f.env());
  ASSERT_EQ(ok.status, 0) << ok.err;
  mt::MediatorSim failing(json{{"S1", {{"fail", {{"operation", "polyphase_series"}, {"status", "UNAVAILABLE"}}}}}});
  Env env = f.env();
  env["MEDIATOR_SERVER"] = failing.address();
  auto bad = run("polyphase_export", {"--serial", "S1", "--folder", dir.path(), "--start-day", "2025-08-03", "--end-day", "2025-08-05"}, env);
  EXPECT_EQ(bad.status, 1);
  EXPECT_TRUE(has(bad.err, "Mediator client failure"));
  EXPECT_EQ(failing.calls("polyphase_series").size(), 1u);  // later days not fetched
  EXPECT_TRUE(fs::exists(dir.path() + "/S1_2025-08-01_intervals.csv"));
  EXPECT_FALSE(fs::exists(dir.path() + "/S1_2025-08-03_intervals.csv"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}
