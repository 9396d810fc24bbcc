// The operator's console for mediator containers, in process.
#include "orchestrate/adapter/ctl.hpp"

#include <sstream>

#include <gtest/gtest.h>

#include "support/fake_machines.hpp"
#include "util/errors.hpp"
#include "util/program.hpp"

namespace mt = meterops::testing;
using namespace meterops;
using namespace meterops::orchestrate;

namespace {

struct Rig {
  mt::FakeMachines fake;
  std::unique_ptr<MachinesOrchestrator> orch;
  std::istringstream in;
  std::ostringstream console;  // the orchestrator's own prints
  explicit Rig(const std::string& image = "img:1") {
    MachinesSettings s;
    s.api_base_url = fake.url();
    orch = std::make_unique<MachinesOrchestrator>("t", "127.0.0.1", image, "mediators-acme", std::nullopt,
                                                  std::nullopt, std::nullopt, s);
    orch->set_console(in, console);
    orch->set_sleep([](std::chrono::seconds) {});
  }
  // Parses `args` as the program would, runs, returns status and report.
  std::pair<int, std::string> ctl(std::vector<std::string> args) {
    CLI::App app{"ctl"};
    CtlOptions o;
    add_ctl_commands(app, o);
    std::reverse(args.begin(), args.end());
    app.parse(args);
    std::ostringstream out;
    int rc = run_ctl(o, *orch, out);
    return {rc, out.str()};
  }
};

}  // namespace

TEST(Ctl, ListPrintsAlignedTable) {
  Rig r;
  r.fake.add_mediator("d8e1", "S1", "m1", "started");
  r.fake.add_mediator("e2", "S22", "m2", "stopped");
  auto [rc, out] = r.ctl({"list"});
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(out,
            "ID    NAME          STATE    PORT  METER_ID  VANTOR_HOST  IMAGE\n"
            "d8e1  mediator-S1   started  443   m1        10.0.0.1     img\n"
            "e2    mediator-S22  stopped  443   m2        10.0.0.1     img\n");
  EXPECT_EQ(r.ctl({"list", "--state", "stopped"}).second.find("d8e1"), std::string::npos);
  auto one = r.ctl({"list", "--meter-id", "m1"}).second;
  EXPECT_NE(one.find("d8e1"), std::string::npos);
  EXPECT_EQ(one.find("e2 "), std::string::npos);
  EXPECT_EQ(r.ctl({"list", "--meter-id", "m9"}).second, "ID  NAME  STATE  PORT  METER_ID  VANTOR_HOST  IMAGE\n");
}

TEST(Ctl, States) {
  EXPECT_EQ(parse_state("destroying"), ContainerState::REMOVING);
  EXPECT_EQ(parse_state("started"), ContainerState::STARTED);
  try {
    parse_state("Started");
    ADD_FAILURE();
  } catch (const util::UsageError& e) {
    EXPECT_NE(std::string(e.what()).find("'Started'"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("destroying"), std::string::npos);
  }
}

TEST(Ctl, CreateStartStopDestroyAddress) {
  Rig r;
  r.in.str("y\n");
  auto [rc, out] = r.ctl({"create", "--meter-id", "m3", "--serial", "S3", "--ip-address", "10.0.0.3", "--port", "8443"});
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(out, "created m1\n");
  auto machine = r.fake.machines().at(0);
  EXPECT_EQ(machine["name"], "mediator-S3");
  EXPECT_EQ(machine["config"]["services"][0]["ports"][0]["port"], 8443);
  EXPECT_FALSE(machine["config"].contains("init"));  // no --cmd: the image's own command

  EXPECT_EQ(r.ctl({"start", "m1"}).second, "started m1\n");
  EXPECT_EQ(r.ctl({"stop", "m1"}).second, "stopped m1\n");
  EXPECT_EQ(r.ctl({"address", "--meter-id", "m3", "--serial", "S3"}), std::make_pair(0, std::string("mediators-acme.flycast:50051\n")));
  EXPECT_EQ(r.ctl({"address", "--meter-id", "m4", "--serial", "S4"}).first, 1);
  EXPECT_NE(r.console.str().find("no match for meters with id m4\n"), std::string::npos);
  EXPECT_EQ(r.ctl({"destroy", "m1", "--force"}).first, 0);
  EXPECT_NE(r.console.str().find("destroy_rsp [m1]: "), std::string::npos);
  EXPECT_TRUE(r.fake.machines().empty());
}

TEST(Ctl, CreateNeedsAnImageAndAValidPort) {
  Rig r("");
  EXPECT_THROW(r.ctl({"create", "--meter-id", "m", "--serial", "S", "--ip-address", "h", "--yes"}), util::GeneralError);
  EXPECT_TRUE(r.fake.requests().empty());
  Rig p;
  EXPECT_THROW(p.ctl({"create", "--meter-id", "m", "--serial", "S", "--ip-address", "h", "--port", "0"}), CLI::ValidationError);
  EXPECT_THROW(p.ctl({"destroy"}), CLI::RequiredError);
  EXPECT_THROW(p.ctl({}), CLI::RequiredError);
}
