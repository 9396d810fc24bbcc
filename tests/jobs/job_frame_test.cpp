#include "jobs/job_frame.hpp"

#include <cstdlib>

#include <gtest/gtest.h>

#include "jobs/util.hpp"
#include "support/pg.hpp"
#include "util/errors.hpp"
#include "util/program.hpp"

using namespace meterops;

TEST(JobFrame, EscoCodesMatchLiterallyIgnoringCase) {
  meterops::testing::TestDatabase db;
  db.exec("INSERT INTO escos (id, code) VALUES ('e1', 'ACME'), ('e2', 'a_me'), ('e3', '50%off'), ('e4', 'back\\slash')");
  auto client = util::supa_client(db.url(), "k", "r");
  auto ids = [&](const std::string& code) {
    std::string out;
    for (const auto& r : jobs::find_escos(client, code)) out += r["id"].get<std::string>();
    return out;
  };
  EXPECT_EQ(ids("acme"), "e1");
  EXPECT_EQ(ids("A_ME"), "e2");
  EXPECT_EQ(ids("%"), "");
  EXPECT_EQ(ids("_"), "");
  EXPECT_EQ(ids("50%OFF"), "e3");
  EXPECT_EQ(ids("back\\slash"), "e4");
  EXPECT_THROW(ids("ac*"), util::UsageError);
}

TEST(JobFrame, EnvironmentCheckStopsAtTheFirstMissingSetting) {
  util::LogCapture cap;
  auto log = util::get_logger("tests.job_frame", __FILE__);
  setenv("JF_A", "x", 1);
  setenv("JF_B", "", 1);
  unsetenv("JF_C");
  const std::vector<jobs::EnvCheck> checks = {
      {{"JF_A"}, "A missing", 2}, {{"JF_A", "JF_B"}, "B missing", 3}, {{"JF_C"}, "C missing", 4}};
  try {
    jobs::check_environment(log, checks);
    ADD_FAILURE();
  } catch (const util::ExitRequest& x) {
    EXPECT_EQ(x.status, 3);
  }
  EXPECT_TRUE(cap.contains("B missing", util::Level::error));
  EXPECT_FALSE(cap.contains("C missing"));
  jobs::handle_supabase_faliure(log, util::ConnectError("database unreachable"));
  auto recs = cap.find("supabase connection failure", util::Level::error);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].fields["error"], "ConnectError: database unreachable");
}
