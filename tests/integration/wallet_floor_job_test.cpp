// wallet_floor_job runs as processes against PostgreSQL and
// mediator_sim; the database state and the sim's call journal are checked.
#include <gtest/gtest.h>

#include "fleet_ops_fixture.hpp"

TEST(WalletFloorJob, EnvironmentChecksAndUsageErrors) {
  Fixture f;
  expect_cli_cases(f, "wallet_floor_job", {
      {{}, {{"SUPABASE_URL", std::nullopt}}, 2, "Environment variables SUPABASE_URL and SUPABASE_ANON_KEY not set."},
      {{}, {{"PUBLIC_BACKEND_ROLE_KEY", std::nullopt}}, 3, "Environment variable PUBLIC_BACKEND_ROLE_KEY not set."},
      {{}, {{"FLY_REGION", ""}}, 4, "Environment variable FLY_REGION not set."},
      {{}, {{"MEDIATOR_SERVER", std::nullopt}}, 5, "Environment variable MEDIATOR_SERVER not set."},
  });
}

TEST(WalletFloorJob, WalletFloorReportIsExact) {
  Fixture f(json{{"S5", {{"balance", 2.5}}}, {"S6", {{"balance", 10}}}, {"S9", {{"fail", {{"operation", "*"}, {"status", "UNAVAILABLE"}}}}}});
  auto r = run("wallet_floor_job", {}, f.env());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "\n=== METERS NEEDING TOPUP ===\n"
            "\nMeter ID: hm5\n  Serial: S5\n  Meter Balance: 2.5\n  Wallet ID: w3\n  Wallet Minimum Balance: 10\n"
            "  Wallet Target Balance: 20\n  Wallet Current Balance: 1\n"
            "\nTotal meters needing topup: 1\n=== END RESULTS ===\n\n");
  EXPECT_TRUE(has(r.err, "Meter has no associated wallet"));
  EXPECT_TRUE(has(r.err, "Meter below minimum but auto_topup disabled"));
  EXPECT_TRUE(has(r.err, "Meter balance is now above minimum (likely topped up)"));
  EXPECT_TRUE(has(r.err, "Failed to fetch latest balance from meter"));
  EXPECT_TRUE(has(r.err, "Found 1 meters needing topup"));
  // 10.1 against 10.10 is equal: hm3 is not below its floor and is never read.
  for (const auto& c : f.sim.journal()) EXPECT_NE(c["serial"], "S3");
}

