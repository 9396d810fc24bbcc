#include "jobs/token_dispatch_batch.hpp"

#include <cstdlib>

#include <gtest/gtest.h>

#include "jobs/push_topup_token.hpp"
#include "support/mediator_sim.hpp"
#include "support/pg.hpp"

using namespace meterops;
using nlohmann::json;

namespace {

const char* kSeed = R"SQL(
INSERT INTO homeportal.meters (id, serial) VALUES ('hm1', 'S1'), ('hm2', 'S2');
INSERT INTO homeportal.topups (id, meter, token, status, used_at) VALUES
  ('t1', 'hm1', '1111', 'wait_token_push', NULL),
  ('t2', 'hm2', '2222', 'wait_token_push', NULL),
  ('t3', 'hm1', '3333', 'wait_token_push', '2024-01-01T00:00:00Z'),
  ('t4', 'hm2', '4444', 'failed_token_push', NULL);
)SQL";

std::string ids(const util::Response& r) {
  std::string out;
  for (const auto& row : util::as_list(r)) out += row["id"].get<std::string>();
  return out;
}

}  // namespace

// None means the whole fleet; an empty list means no meters at all, so an
// ESCO without supply meters never widens to every top-up.
TEST(TokenDispatch, TopupsQueryMeterFilter) {
  meterops::testing::TestDatabase db;
  db.exec(kSeed);
  setenv("SUPABASE_URL", db.url().c_str(), 1);
  setenv("SUPABASE_ANON_KEY", "anon", 1);
  setenv("FLOWS_ROLE_KEY", "flows", 1);
  setenv("PUBLIC_BACKEND_ROLE_KEY", "backend", 1);
  setenv("MEDIATOR_SERVER", "127.0.0.1:1", 1);
  jobs::TokenDispatchBatchJob job(jobs::TokenDispatchSettings::from_env());
  EXPECT_EQ(ids(job._get_topups_query("wait_token_push")), "t1t2");
  EXPECT_EQ(ids(job._get_topups_query("wait_token_push", std::vector<util::Row>{})), "");
  EXPECT_EQ(ids(job._get_topups_query("wait_token_push", std::vector<util::Row>{"hm2"})), "t2");
  EXPECT_EQ(ids(job._get_topups_query("failed_token_push")), "t4");
}

TEST(PushTopupToken, RecordsThePushOrTheFailure) {
  meterops::testing::TestDatabase db;
  db.exec(kSeed);
  meterops::testing::MediatorSim sim(json{{"S2", {{"fail", {{"operation", "token_push"}, {"status", "UNAVAILABLE"}}}}}});
  auto client = util::supa_client(db.url(), "anon", "backend", "homeportal");
  EXPECT_TRUE(jobs::PushTopupTokenJob({"t1", "m1", "S1", "1111", sim.address()}, client).push());
  EXPECT_FALSE(jobs::PushTopupTokenJob({"t2", "m2", "S2", "2222", sim.address()}, client).push());
  auto rows = db.query(
      "SELECT id, status, notes, used_at IS NOT NULL AS used, abs(extract(epoch FROM now() - used_at)) < 300 AS recent "
      "FROM homeportal.topups WHERE id IN ('t1', 't2') ORDER BY id");
  EXPECT_EQ(rows[0]["status"], "token_pushed");
  EXPECT_EQ(rows[0]["recent"], true);
  EXPECT_EQ(rows[1]["status"], "failed_token_push");
  EXPECT_EQ(rows[1]["used"], false);
  EXPECT_NE(rows[1]["notes"].get<std::string>().find("UNAVAILABLE"), std::string::npos);
  auto pushes = sim.calls("token_push");
  ASSERT_EQ(pushes.size(), 2u);
  EXPECT_EQ(pushes[0]["serial"], "S1");
}
