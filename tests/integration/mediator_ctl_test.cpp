// mediator_ctl as a process against the loopback platform fake.
#include <gtest/gtest.h>

#include "support/fake_machines.hpp"
#include "support/process.hpp"

namespace mt = meterops::testing;

namespace {
bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
}  // namespace

TEST(MediatorCtl, Commands) {
  mt::FakeMachines fly;
  fly.add_mediator("id1", "S1", "m1", "started");
  fly.add_mediator("id2", "S2", "m2", "stopped");
  mt::ProcessOptions o;
  o.env = {{"FLY_API_TOKEN", "fly-token-secret"}, {"FLY_API_HOSTNAME", fly.url()}, {"MEDIATOR_APP", "mediators-acme"},
           {"MEDIATOR_IMAGE", "img:1"}, {"FLY_REGION", std::nullopt}, {"MEDIATOR_PORT", std::nullopt},
           {"MEDIATOR_USE_PRIVATE_ADDRESS", std::nullopt}, {"FLY_PRIVATE_DOMAIN", std::nullopt}};
  auto ctl = [&](std::vector<std::string> args, const std::string& in = "") {
    auto opts = o;
    opts.stdin_text = in;
    opts.timeout = std::chrono::seconds(30);
    auto res = mt::run_process(mt::bin_path("mediator_ctl"), args, opts);
    EXPECT_FALSE(has(res.out, "fly-token-secret") || has(res.err, "fly-token-secret"));
    return res;
  };
  auto list = ctl({"list", "--state", "stopped"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_TRUE(has(list.out, "ID   NAME         STATE    PORT  METER_ID  VANTOR_HOST  IMAGE\n"));
  EXPECT_TRUE(has(list.out, "id2"));
  EXPECT_FALSE(has(list.out, "id1"));

  auto refused = ctl({"create", "--meter-id", "m3", "--serial", "S3", "--ip-address", "10.0.0.3"}, "n\n");
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(has(refused.out, "Create machine with these details (y/n): \naborting ...\n"));
  auto created = ctl({"create", "--meter-id", "m3", "--serial", "S3", "--ip-address", "10.0.0.3"}, "y\n");
  EXPECT_EQ(created.status, 0) << created.err;
  EXPECT_TRUE(has(created.out, "created m1\n"));
  EXPECT_EQ(fly.machines().size(), 3u);

  auto addr = ctl({"address", "--meter-id", "m1", "--serial", "S1"});
  EXPECT_EQ(addr.status, 0);
  EXPECT_EQ(addr.out, "mediators-acme.flycast:50051\n");
  auto nowhere = ctl({"address", "--meter-id", "m9", "--serial", "S9"});
  EXPECT_EQ(nowhere.status, 1);
  EXPECT_EQ(nowhere.out, "no match for meters with id m9\n");

  auto destroyed = ctl({"destroy", "id2", "--force"});
  EXPECT_EQ(destroyed.status, 0) << destroyed.err;
  EXPECT_EQ(destroyed.out, "destroy_rsp [id2]: {\"ok\":true}\n");
}

TEST(MediatorCtl, UsageAndSettingErrors) {
  mt::FakeMachines fly;
  mt::ProcessOptions o;
  o.env = {{"FLY_API_TOKEN", "t"}, {"FLY_API_HOSTNAME", fly.url()}, {"MEDIATOR_APP", "mediators-acme"},
           {"MEDIATOR_IMAGE", std::nullopt}, {"MEDIATOR_PORT", std::nullopt}};
  struct Case {
    std::vector<std::string> args;
    std::map<std::string, std::optional<std::string>> env;
    int status;
    std::string says;
  };
  const Case cases[] = {
      {{}, {}, 2, "usage:"},
      {{"reboot"}, {}, 2, "usage:"},
      {{"list", "--state", "bogus"}, {}, 2, "unknown state 'bogus'"},
      {{"create", "--meter-id", "m", "--serial", "S", "--ip-address", "h", "--port", "0"}, {}, 2, "--port"},
      {{"start"}, {}, 2, "id"},
      {{"create", "--meter-id", "m", "--serial", "S", "--ip-address", "h", "--yes"}, {}, 1, "MEDIATOR_IMAGE"},
      {{"list"}, {{"FLY_API_TOKEN", std::nullopt}}, 1, "FLY_API_TOKEN"},
      {{"list"}, {{"MEDIATOR_PORT", "port"}}, 1, "MEDIATOR_PORT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    auto opts = o;
    for (const auto& [k, v] : c.env) opts.env[k] = v;
    opts.timeout = std::chrono::seconds(30);
    auto res = mt::run_process(mt::bin_path("mediator_ctl"), c.args, opts);
    EXPECT_EQ(res.status, c.status) << res.err;
    EXPECT_TRUE(has(res.err, c.says)) << res.err;
  }
  EXPECT_TRUE(fly.machines().empty());
}
