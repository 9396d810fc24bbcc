// wallet_floor_job runs as processes against PostgreSQL and
// mediator_sim; the database state and the sim's call journal are checked.
#include <gtest/gtest.h>

#include "fleet_ops_fixture.hpp"

TEST(WalletFloorJob, EnvironmentChecksAndUsageErrors) {
  Fixture f;
  struct Case {
    std::string prog;
    std::vector<std::string> args;
    Env env;
    int status;
    std::string err;
  };
  const std::string tdb = "token_dispatch_batch", cms = "credit_mode_sweep", wfj = "wallet_floor_job",
                    pe = "polyphase_export";
  const std::vector<std::string> pe_args = {"--serial", "S5", "--folder", "/tmp/meterops-pe-unused", "--day", "2025-08-01"};
  const std::vector<Case> cases = {
      {wfj, {}, {{"SUPABASE_URL", std::nullopt}}, 2, "Environment variables SUPABASE_URL and SUPABASE_ANON_KEY not set."},
      {wfj, {}, {{"PUBLIC_BACKEND_ROLE_KEY", std::nullopt}}, 3, "Environment variable PUBLIC_BACKEND_ROLE_KEY not set."},
      {wfj, {}, {{"FLY_REGION", ""}}, 4, "Environment variable FLY_REGION not set."},
      {wfj, {}, {{"MEDIATOR_SERVER", std::nullopt}}, 5, "Environment variable MEDIATOR_SERVER not set."},
  };
  for (const auto& c : cases) {
    Env env = f.env();
    for (auto& [k, v] : c.env) env[k] = v;
    auto r = run(c.prog, c.args, env);
    EXPECT_EQ(r.status, c.status) << c.prog << " " << r.err;
    EXPECT_TRUE(has(r.err, c.err)) << c.prog << ": " << r.err;
    for (const char* secret : {"flows-secret", "backend-secret", "token-secret"}) {
      EXPECT_FALSE(has(r.err + r.out, secret)) << c.prog << " leaked a key: " << r.err;
    }
  }
  fs::remove_all("/tmp/meterops-pe-unused");
  EXPECT_TRUE(f.sim.journal().empty());
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

