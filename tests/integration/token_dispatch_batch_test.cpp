// token_dispatch_batch runs as processes against PostgreSQL and
// mediator_sim; the database state and the sim's call journal are checked.
#include <gtest/gtest.h>

#include "fleet_ops_fixture.hpp"

TEST(TokenDispatchBatch, EnvironmentChecksAndUsageErrors) {
  Fixture f;
  expect_cli_cases(f, "token_dispatch_batch", {
      {{}, {{"SUPABASE_URL", ""}}, 2, "Environment variables SUPABASE_URL and SUPABASE_ANON_KEY not set."},
      {{}, {{"FLOWS_ROLE_KEY", std::nullopt}}, 3, "Environment variable FLOWS_ROLE_KEY not set."},
      {{}, {{"PUBLIC_BACKEND_ROLE_KEY", ""}}, 4, "Environment variable PUBLIC_BACKEND_ROLE_KEY not set."},
      {{}, {{"MEDIATOR_SERVER", std::nullopt}}, 5, "Environment variable MEDIATOR_SERVER not set."},
      {{}, {{"MAX_PARALLEL_JOBS", "x"}}, 1, "MAX_PARALLEL_JOBS must be a whole number"},
      {{"--esco", "nobody"}, {}, 10, "No esco found for nobody"},
      {{"--esco", "a*"}, {}, 2, "may not contain '*'"},
  });
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

