// credit_mode_sweep runs as processes against PostgreSQL and
// mediator_sim; the database state and the sim's call journal are checked.
#include <gtest/gtest.h>

#include "fleet_ops_fixture.hpp"

TEST(CreditModeSweep, EnvironmentChecksAndUsageErrors) {
  Fixture f;
  expect_cli_cases(f, "credit_mode_sweep", {
      {{"--esco", "ACME"}, {{"SUPABASE_ANON_KEY", std::nullopt}}, 2,
       "Environment variables SUPABASE_URL and SUPABASE_ANON_KEY not set."},
      {{"--esco", "ACME"}, {{"FLOWS_ROLE_KEY", ""}}, 3, "Environment variable FLOWS_ROLE_KEY not set."},
      {{"--esco", "ACME"}, {{"MEDIATOR_SERVER", ""}}, 4, "Environment variable MEDIATOR_SERVER not set."},
      {{}, {}, 2, "--esco"},
      {{"--esco", "%"}, {}, 10, "no esco found for %"},
  });
}

TEST(CreditModeSweep, CreditModeSweepSkipsExcludedModelsAndCountsFailures) {
  Fixture f(json{{"S5", {{"fail", {{"operation", "prepay_enabled_write"}, {"status", "INTERNAL"}}}}}});
  auto r = run("credit_mode_sweep", {"--esco", "acme"}, f.env());
  ASSERT_EQ(r.status, 0) << r.err;
  std::set<std::string> serials;
  for (const auto& c : f.sim.calls("prepay_enabled_write")) {
    serials.insert(c["serial"].get<std::string>());
    EXPECT_EQ(c["enabled"], false);
  }
  // Never P1.ax, P1.cx, a null model code or a meter with the flag off; the
  // registry's mode is not part of the selection.
  EXPECT_EQ(serials, (std::set<std::string>{"S1", "S5", "S7"}));
  EXPECT_TRUE(has(r.err, "Processing 3 meters"));
  EXPECT_TRUE(has(r.err, "Mediator client failure"));
  EXPECT_TRUE(has(r.err, "Finished credit_mode_sweep job. Success: 2/3"));
  EXPECT_EQ(f.db.query("SELECT count(*) AS n FROM meter_registry WHERE prepay_enabled")[0]["n"], 7);  // no table change
  auto none = run("credit_mode_sweep", {"--esco", "A_ME"}, f.env());
  EXPECT_EQ(none.status, 0) << none.err;
}

