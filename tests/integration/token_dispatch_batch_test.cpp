// token_dispatch_batch runs as processes against PostgreSQL and
// mediator_sim; the database state and the sim's call journal are checked.
#include <gtest/gtest.h>

#include "fleet_ops_fixture.hpp"

TEST(TokenDispatchBatch, EnvironmentChecksAndUsageErrors) {
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
      {tdb, {}, {{"SUPABASE_URL", ""}}, 2, "Environment variables SUPABASE_URL and SUPABASE_ANON_KEY not set."},
      {tdb, {}, {{"FLOWS_ROLE_KEY", std::nullopt}}, 3, "Environment variable FLOWS_ROLE_KEY not set."},
      {tdb, {}, {{"PUBLIC_BACKEND_ROLE_KEY", ""}}, 4, "Environment variable PUBLIC_BACKEND_ROLE_KEY not set."},
      {tdb, {}, {{"MEDIATOR_SERVER", std::nullopt}}, 5, "Environment variable MEDIATOR_SERVER not set."},
      {tdb, {}, {{"MAX_PARALLEL_JOBS", "x"}}, 1, "MAX_PARALLEL_JOBS must be a whole number"},
      {tdb, {"--esco", "nobody"}, {}, 10, "No esco found for nobody"},
      {tdb, {"--esco", "a*"}, {}, 2, "may not contain '*'"},
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

TEST(TokenDispatchBatch, TokenDispatchPushesMarksAndSkips) {
  Fixture f(json{{"S2", {{"fail", {{"operation", "token_push"}, {"status", "UNAVAILABLE"}}}}}});
  auto r = run("token_dispatch_batch", {}, f.env());
  ASSERT_EQ(r.status, 0) << r.err;
  auto topups = f.db.query("SELECT id, status, notes, used_at IS NOT NULL AS used FROM homeportal.topups ORDER BY id");
  EXPECT_EQ(topups[0]["status"], "token_pushed");  // t1 pushed
  EXPECT_EQ(topups[0]["used"], true);
  EXPECT_EQ(topups[1]["status"], "wait_token_push");  // t2, t3: meter S7 inactive, left unchanged
  EXPECT_EQ(topups[2]["status"], "wait_token_push");
  EXPECT_EQ(topups[3]["status"], "failed_token_push");  // t4 mediator failure, with its note
  EXPECT_TRUE(has(topups[3]["notes"].get<std::string>(), "UNAVAILABLE"));
  EXPECT_EQ(topups[4]["status"], "token_pushed");  // t5 retried in the second pass
  EXPECT_EQ(topups[5]["status"], "wait_token_push");  // t6 already used
  EXPECT_TRUE(has(r.err, "Topup t2 has no active meter S7 in meter_registry"));
  EXPECT_TRUE(has(r.err, "Topup t3 has no active meter S7 in meter_registry"));
  EXPECT_TRUE(has(r.err, "Found 1 topups with no active meters: ['S7']"));
  // First pass: t1 pushed, t4 failed; second pass retries t4 (fails again) and t5.
  auto first = r.err.find("Finished token push job. Success: 1/2");
  ASSERT_NE(first, std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Finished token push job. Success: 1/2", first + 1), std::string::npos);
  EXPECT_EQ(f.sim.calls("token_push").size(), 4u);
}

TEST(TokenDispatchBatch, TokenDispatchWithEscoUsesSupplyMetersOnly) {
  Fixture f;
  auto r = run("token_dispatch_batch", {"--esco", "acme"}, f.env());
  ASSERT_EQ(r.status, 0) << r.err;
  auto pushes = f.sim.calls("token_push");
  ASSERT_EQ(pushes.size(), 1u);
  EXPECT_EQ(pushes[0]["serial"], "S1");
  EXPECT_TRUE(has(r.err, "No topups in status failed_token_push"));
  // An ESCO whose properties list no supply meter selects nothing.
  auto none = run("token_dispatch_batch", {"--esco", "NOPROPS"}, f.env());
  ASSERT_EQ(none.status, 0) << none.err;
  EXPECT_TRUE(has(none.err, "No topups in status wait_token_push"));
  EXPECT_EQ(f.sim.calls("token_push").size(), 1u);
}

