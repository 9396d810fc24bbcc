#include <gtest/gtest.h>

#include "support/fake_machines.hpp"
#include "support/process.hpp"

namespace mt = meterops::testing;

TEST(MediatorCtl, ListCreateAddressDestroy) {
  mt::FakeMachines fly;
  fly.add_mediator("id1", "S1", "m1", "started");
  fly.add_mediator("id2", "S2", "m2", "stopped");
  mt::ProcessOptions o;
  o.env = {{"FLY_API_TOKEN", "tok"}, {"FLY_API_HOSTNAME", fly.url()}, {"MEDIATOR_APP", "mediators-acme"},
           {"MEDIATOR_IMAGE", "img:1"}};
  auto ctl = [&](std::vector<std::string> args, const std::string& in = "") {
    auto opts = o;
    opts.stdin_text = in;
    return mt::run_process(mt::bin_path("mediator_ctl"), args, opts);
  };
  auto list = ctl({"list", "--state", "stopped"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("id2"), std::string::npos);
  EXPECT_EQ(list.out.find("id1"), std::string::npos);
  auto refused = ctl({"create", "--meter-id", "m3", "--serial", "S3", "--ip-address", "10.0.0.3"}, "n\n");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.out.find("aborting ..."), std::string::npos);
  auto created = ctl({"create", "--meter-id", "m3", "--serial", "S3", "--ip-address", "10.0.0.3"}, "y\n");
  EXPECT_EQ(created.status, 0) << created.err;
  EXPECT_EQ(fly.machines().size(), 3u);
  auto addr = ctl({"address", "--meter-id", "m1", "--serial", "S1"});
  EXPECT_EQ(addr.out, "mediators-acme.flycast:50051\n");
  auto destroyed = ctl({"destroy", "id2", "--force"});
  EXPECT_EQ(destroyed.status, 0) << destroyed.err;
  EXPECT_NE(destroyed.out.find("destroy_rsp [id2]: "), std::string::npos);
  EXPECT_EQ(ctl({"list", "--state", "bogus"}).status, 2);
  o.env["FLY_API_TOKEN"] = std::nullopt;
  auto no_token = ctl({"list"});
  EXPECT_EQ(no_token.status, 1);
  EXPECT_NE(no_token.err.find("FLY_API_TOKEN"), std::string::npos);
}
