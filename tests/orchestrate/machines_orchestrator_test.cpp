#include "orchestrate/adapter/machines_orchestrator.hpp"

#include <cstdlib>
#include <sstream>

#include <gtest/gtest.h>

#include "support/fake_machines.hpp"
#include "support/process.hpp"
#include "util/errors.hpp"

namespace mt = meterops::testing;
using namespace meterops;
using namespace meterops::orchestrate;
using Json = nlohmann::ordered_json;

namespace {

struct Rig {
  mt::FakeMachines fake;
  std::shared_ptr<MachinesOrchestrator> orch;
  std::vector<long> waits;
  std::istringstream in;
  std::ostringstream out;
  explicit Rig(std::optional<bool> private_address = std::nullopt, MachinesSettings settings = {}) {
    orch = std::make_shared<MachinesOrchestrator>(std::make_shared<API>("fly-secret-token", fake.url()), "127.0.0.1",
                                                  "registry/mediator:1", "mediators-acme", std::nullopt,
                                                  private_address, std::nullopt, settings);
    orch->set_sleep([this](std::chrono::seconds s) { waits.push_back(s.count()); });
    orch->set_console(in, out);
  }
};

// A loopback DNS server for one test.
struct Dns {
  int port = mt::free_port();
  std::unique_ptr<mt::BackgroundProcess> proc;
  explicit Dns(const std::vector<std::string>& records) {
    std::vector<std::string> args = {"--no-daemon", "--port=" + std::to_string(port), "--listen-address=127.0.0.1",
                                     "--bind-interfaces", "--no-resolv", "--no-hosts", "--user=root", "--pid-file="};
    for (const auto& r : records) args.push_back("--host-record=" + r);
    proc = std::make_unique<mt::BackgroundProcess>("/usr/sbin/dnsmasq", args);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  std::string server() const { return "127.0.0.1:" + std::to_string(port); }
};

}  // namespace

TEST(MachinesOrchestrator, ListFiltersAndConverts) {
  Rig r;
  r.fake.add_mediator("a", "S1", "m1", "started");
  r.fake.add_mediator("b", "S2", "m10", "stopping");
  r.fake.add_mediator("c", "S3", "m1", "destroying");
  r.fake.add_machine({{"id", "x"}, {"name", "mediator-S9"}, {"state", "started"}, {"config", nullptr}});
  r.fake.add_machine({{"id", "y"}, {"name", "other"}, {"state", "started"}, {"config", {{"metadata", {{"meter_id", "m1"}}}}}});
  auto all = r.orch->list();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].port, 443);
  EXPECT_EQ(all[0].metadata.at("vantor_host"), "10.0.0.1");
  EXPECT_EQ(all[1].status, ContainerState::STOPPING);
  auto m1 = r.orch->list(std::make_pair(std::string("meter_id"), std::string("m1")));
  ASSERT_EQ(m1.size(), 2u);
  EXPECT_EQ(r.orch->list(std::nullopt, ContainerState::REMOVING).at(0).id, "c");
  EXPECT_EQ(r.orch->get("m1")->id, "a");
  EXPECT_FALSE(r.orch->get("m").has_value());
  EXPECT_EQ(r.fake.requests()[0].query, "region=lhr");
  EXPECT_EQ(r.fake.requests()[0].authorization, "Bearer fly-secret-token");
  r.fake.fail_next("list", 1);
  EXPECT_TRUE(r.orch->list().empty());
}

TEST(MachinesOrchestrator, RetryWaitsOneTwoFourEightThenGivesUp) {
  Rig r;
  r.fake.fail_next("start", 2);
  util::LogCapture cap;
  r.orch->start("a");
  EXPECT_EQ(r.waits, (std::vector<long>{1, 2}));
  EXPECT_EQ(cap.find("API call returned error, retrying: injected failure", util::Level::warning).size(), 2u);
  r.waits.clear();
  r.fake.fail_next("stop", 9);
  EXPECT_THROW(r.orch->stop("a"), util::RetryError);
  EXPECT_EQ(r.waits, (std::vector<long>{1, 2, 4, 8}));
}

TEST(MachinesOrchestrator, CreatePromptAnswers) {
  for (const char* answer : {"Y\n", "yes\n", " y\n", "\n", ""}) {
    Rig r;
    r.in.str(answer);
    try {
      r.orch->create("serve", "m1", "S1", "10.0.0.1");
      ADD_FAILURE() << answer;
    } catch (const util::ExitRequest& x) {
      EXPECT_EQ(x.status, 1);
    }
    EXPECT_NE(r.out.str().find("\naborting ...\n"), std::string::npos);
    EXPECT_TRUE(r.fake.machines().empty());
  }
  setenv("SOCKS_HOST", "proxy", 1);
  setenv("SOCKS_PORT", "1080", 1);
  setenv("SOCKS_USERNAME", "u", 1);
  setenv("SOCKS_PASSWORD", "proxy-secret", 1);
  Rig r;
  r.in.str("y\n");
  util::LogCapture cap;
  std::string id = r.orch->create("serve", "m1", "S1", "10.0.0.1", 443);
  EXPECT_EQ(id, "m1");
  EXPECT_NE(r.out.str().find("Fly App:    mediators-acme\nRegion:     lhr\nImage:      registry/mediator:1\nName:       mediator-S1"),
            std::string::npos);
  auto created = r.fake.machines()[0];
  EXPECT_EQ(created["config"]["env"]["SOCKS_PASSWORD"], "proxy-secret");
  EXPECT_EQ(created["config"]["metadata"]["meter_id"], "m1");
  auto logged = cap.find("create machine response " + redact_env(created).dump());
  EXPECT_EQ(logged.size(), 1u);
  for (const auto& rec : cap.records()) EXPECT_EQ(rec.event.find("proxy-secret"), std::string::npos);
  for (const char* v : {"SOCKS_HOST", "SOCKS_PORT", "SOCKS_USERNAME", "SOCKS_PASSWORD"}) unsetenv(v);

  Rig quiet;
  quiet.orch->create("serve", "m2", "S2", "10.0.0.2", std::nullopt, std::nullopt, /*skip_confirm=*/true);
  EXPECT_TRUE(quiet.out.str().empty());
}

TEST(MachinesOrchestrator, DestroyPrintsItsSteps) {
  Rig r;
  r.fake.add_mediator("a", "S1", "m1");
  r.orch->destroy("a", false);
  std::string out = r.out.str();
  auto stop = out.find("stop_rsp [a]: "), wait = out.find("wait_rsp [a]: "), destroy = out.find("destroy_rsp [a]: ");
  EXPECT_TRUE(stop < wait && wait < destroy && destroy != std::string::npos) << out;
  EXPECT_NE(r.fake.requests()[2].query.find("state=stopped"), std::string::npos);
  Rig f;
  f.fake.add_mediator("b", "S2", "m2");
  f.orch->destroy("b", true);
  EXPECT_EQ(f.out.str().find("stop_rsp"), std::string::npos);
  EXPECT_NE(f.out.str().find("destroy_rsp [b]: "), std::string::npos);
  EXPECT_EQ(f.fake.requests().back().query, "force=true&region=lhr");
}

TEST(MachinesOrchestrator, CoreEnvironmentAndMetadata) {
  Rig r;
  unsetenv("MEDIATOR_INACTIVITY_SECONDS");
  setenv("SOCKS_HOST", "h", 1);
  setenv("SOCKS_PORT", "1", 1);
  setenv("SOCKS_USERNAME", "u", 1);
  unsetenv("SOCKS_PASSWORD");
  EXPECT_EQ(r.orch->_env_vars("10.0.0.9", false).dump(), R"({"VANTOR_HOST":"10.0.0.9","MEDIATOR_INACTIVITY_SECONDS":null})");
  setenv("SOCKS_PASSWORD", "", 1);
  EXPECT_EQ(r.orch->_socks_dict()->dump(), R"({"SOCKS_HOST":"h","SOCKS_PORT":"1","SOCKS_USERNAME":"u","SOCKS_PASSWORD":""})");
  for (const char* v : {"SOCKS_HOST", "SOCKS_PORT", "SOCKS_USERNAME", "SOCKS_PASSWORD"}) unsetenv(v);
  setenv("MEDIATOR_SERVER_CERT", "c", 1);
  setenv("MEDIATOR_SERVER_KEY", "k", 1);
  unsetenv("MEDIATOR_CA_CERT");
  try {
    r.orch->_env_vars("h", true);
    ADD_FAILURE();
  } catch (const util::GeneralError& e) {
    EXPECT_STREQ(e.what(), "use_cert_auth is True but certificate environment variables not set");
  }
  unsetenv("MEDIATOR_SERVER_CERT");
  unsetenv("MEDIATOR_SERVER_KEY");
  EXPECT_EQ(r.orch->_metadata("m1", "1.2.3.4").dump(), R"({"meter_id":"m1","vantor_host":"1.2.3.4"})");
}

TEST(MachinesOrchestrator, AddressesPrivateAndByDns) {
  Rig priv;
  priv.fake.add_mediator("a", "S1", "m1");
  EXPECT_EQ(priv.orch->mediator_address("m1", "S1"), "mediators-acme.flycast:50051");
  EXPECT_EQ(priv.orch->mediator_address("nobody", "S0"), std::nullopt);
  EXPECT_NE(priv.out.str().find("no match for meters with id nobody"), std::string::npos);

  Dns dns({"mediators-acme.fly.test,127.0.0.7", "mediators-acme.flycast,fdaa::42"});
  MachinesSettings s;
  s.public_domain = ".fly.test";
  s.public_dns_server = dns.server();
  Rig pub(false, s);
  pub.fake.add_mediator("a", "S1", "m1");
  EXPECT_EQ(pub.orch->mediator_address("m1", "S1"), "127.0.0.7:50051");

  auto flycast = std::make_shared<MachinesOrchestrator>(std::make_shared<API>("t", pub.fake.url()), dns.server(), "img",
                                                        "mediators-acme");
  EXPECT_EQ(flycast->get_private_flycast_ip(), "fdaa::42");

  auto lost = std::make_shared<MachinesOrchestrator>(std::make_shared<API>("t", pub.fake.url()), dns.server(), "img",
                                                     "mediators-nowhere", std::nullopt, false, std::nullopt, s);
  std::ostringstream out;
  std::istringstream in;
  lost->set_console(in, out);
  try {
    lost->get_private_flycast_ip();
    ADD_FAILURE();
  } catch (const util::ExitRequest& x) {
    EXPECT_EQ(x.status, 10);
  }
  EXPECT_NE(out.str().find("Has Wireguard been started??"), std::string::npos);
  try {
    lost->get_public_address();
    ADD_FAILURE();
  } catch (const util::ExitRequest& x) {
    EXPECT_EQ(x.status, 11);
  }
  EXPECT_NE(out.str().find("\nFailed to resolve address ["), std::string::npos);
}

TEST(MachinesOrchestrator, ConcurrentAddressLookupsOnOneOrchestrator) {
  Rig r;
  for (int i = 0; i < 10; ++i) r.fake.add_mediator("id" + std::to_string(i), "S" + std::to_string(i), "m" + std::to_string(i));
  std::vector<std::thread> threads;
  std::atomic<int> found{0};
  for (int t = 0; t < 5; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        if (r.orch->mediator_address("m" + std::to_string((t + i) % 10), "S")) ++found;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(found.load(), 50);
}
