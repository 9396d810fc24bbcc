// The machines orchestrator against the loopback platform fake and a real
// name server on loopback.
#include "orchestrate/adapter/machines_orchestrator.hpp"

#include <cstdlib>
#include <sstream>

#include <gtest/gtest.h>

#include "support/dns_server.hpp"
#include "support/fake_machines.hpp"
#include "util/errors.hpp"
#include "util/worker_pool.hpp"

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
  explicit Rig(std::optional<bool> private_address = std::nullopt, MachinesSettings settings = {},
               std::optional<std::string> region = std::nullopt) {
    settings.api_base_url = fake.url();
    orch = std::make_shared<MachinesOrchestrator>("fly-secret-token", "127.0.0.1", "registry/mediator:1",
                                                  "mediators-acme", std::nullopt, private_address, region, settings);
    orch->set_sleep([this](std::chrono::seconds s) { waits.push_back(s.count()); });
    orch->set_console(in, out);
  }
};

// Sets environment variables for one scope and restores them after.
struct ScopedEnv {
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
  explicit ScopedEnv(const std::vector<std::pair<std::string, std::optional<std::string>>>& vars) {
    for (const auto& [k, v] : vars) {
      const char* old = std::getenv(k.c_str());
      saved.emplace_back(k, old ? std::optional<std::string>(old) : std::nullopt);
      v ? setenv(k.c_str(), v->c_str(), 1) : unsetenv(k.c_str());
    }
  }
  ~ScopedEnv() {
    for (const auto& [k, v] : saved) v ? setenv(k.c_str(), v->c_str(), 1) : unsetenv(k.c_str());
  }
};

std::vector<std::string> ids(const std::vector<Container>& cs) {
  std::vector<std::string> out;
  for (const auto& c : cs) out.push_back(c.id);
  return out;
}

}  // namespace

TEST(MachinesOrchestrator, ListKeepsMediatorsWithConfigAndConverts) {
  Rig r;
  r.fake.add_mediator("a", "S1", "m1", "started");
  r.fake.add_machine({{"id", "x"}, {"name", "mediator-S9"}, {"state", "started"}, {"config", nullptr}});
  r.fake.add_machine({{"id", "y"}, {"name", "other"}, {"state", "started"},
                      {"config", {{"image", "i"}, {"services", {{{"ports", {{{"port", 1}}}}}}}, {"metadata", {{"meter_id", "m1"}}}}}});
  auto all = r.orch->list();
  ASSERT_EQ(ids(all), (std::vector<std::string>{"a"}));
  const Container& c = all[0];
  EXPECT_EQ(c.name, "mediator-S1");
  EXPECT_EQ(c.image, "img");
  EXPECT_EQ(c.port, 443);
  EXPECT_EQ(c.status, ContainerState::STARTED);
  EXPECT_EQ(c.container_environment, ContainerEnvironment::FLY);
  EXPECT_EQ(c.metadata, (std::map<std::string, std::string>{{"meter_id", "m1"}, {"vantor_host", "10.0.0.1"}}));
  EXPECT_EQ(r.fake.requests()[0].query, "region=lhr");  // FLY_REGION_DEFAULT
}

TEST(MachinesOrchestrator, ListFilters) {
  Rig r;
  r.fake.add_mediator("a", "S1", "m1", "started");
  r.fake.add_mediator("b", "S2", "m10", "stopping");
  r.fake.add_mediator("c", "S3", "m1", "destroying");
  r.fake.add_machine({{"id", "n"}, {"name", "mediator-S4"}, {"state", "stopped"},
                      {"config", {{"image", "i"}, {"services", {{{"ports", {{{"port", 1}}}}}}}, {"metadata", {{"vantor_host", "h"}}}}}});
  using Filter = std::optional<std::pair<std::string, std::string>>;
  struct Case {
    Filter metadata;
    std::optional<ContainerState> status;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, {"a", "b", "c", "n"}},
      {std::make_pair("meter_id", "m1"), std::nullopt, {"a", "c"}},  // not "m10", not the unlabelled one
      {std::make_pair("meter_id", "m"), std::nullopt, {}},
      {std::make_pair("vantor_host", "h"), std::nullopt, {"n"}},
      {std::nullopt, ContainerState::STOPPING, {"b"}},
      {std::nullopt, ContainerState::REMOVING, {"c"}},
      {std::nullopt, ContainerState::STOPPED, {"n"}},
      {std::make_pair("meter_id", "m1"), ContainerState::STARTED, {"a"}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(::testing::PrintToString(k.want));
    EXPECT_EQ(ids(r.orch->list(k.metadata, k.status)), k.want);
  }
  EXPECT_EQ(r.orch->get("m1")->id, "a");  // the first one listed
  EXPECT_FALSE(r.orch->get("m").has_value());
}

TEST(MachinesOrchestrator, ListErrors) {
  Rig r;
  r.fake.add_mediator("a", "S1", "m1");
  r.fake.fail_next("list", 1);
  util::LogCapture cap;
  EXPECT_TRUE(r.orch->list().empty());
  auto warned = cap.find(R"(failed to get machines {"error":"injected failure","status":500})", util::Level::warning);
  ASSERT_EQ(warned.size(), 1u);
  EXPECT_EQ(warned[0].fields["fly_app"], "mediators-acme");

  // A mediator without services, or in an unknown state, cannot be converted,
  // unless a metadata filter removed it first.
  Rig bad;
  bad.fake.add_mediator("a", "S1", "m1");
  bad.fake.add_machine({{"id", "z"}, {"name", "mediator-S2"}, {"state", "started"},
                        {"config", {{"image", "i"}, {"metadata", {{"meter_id", "m2"}}}}}});
  EXPECT_THROW(bad.orch->list(), util::LookupError);
  EXPECT_THROW(bad.orch->get("m2"), util::LookupError);
  EXPECT_EQ(bad.orch->get("m1")->id, "a");
  Rig odd;
  odd.fake.add_mediator("q", "S1", "m1", "suspended");
  EXPECT_THROW(odd.orch->list(), util::LookupError);
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
  int stops = 0;
  for (const auto& q : r.fake.requests()) stops += q.path.ends_with("/stop");
  EXPECT_EQ(stops, 5);
  // A transport failure is not repeated.
  MachinesSettings s;
  s.api_base_url = "http://127.0.0.1:" + std::to_string(meterops::testing::free_port());
  MachinesOrchestrator down("t", "127.0.0.1", "img", "app", std::nullopt, std::nullopt, std::nullopt, s);
  std::vector<long> waits;
  down.set_sleep([&](std::chrono::seconds w) { waits.push_back(w.count()); });
  EXPECT_THROW(down.start("a"), util::ConnectError);
  EXPECT_TRUE(waits.empty());
}

TEST(MachinesOrchestrator, CreatePromptAnswers) {
  for (const char* answer : {"Y\n", "yes\n", " y\n", "\n", "", "n\n"}) {
    SCOPED_TRACE(answer);
    Rig r;
    r.in.str(answer);
    try {
      r.orch->create("serve", "m1", "S1", "10.0.0.1");
      ADD_FAILURE() << "created";
    } catch (const util::ExitRequest& x) {
      EXPECT_EQ(x.status, 1);
    }
    EXPECT_NE(r.out.str().find("(y/n): \naborting ...\n\n"), std::string::npos);
    EXPECT_TRUE(r.fake.requests().empty());
  }
  Rig r;
  r.in.str("y\n");
  EXPECT_EQ(r.orch->create("serve", "m1", "S1", "10.0.0.1", 443), "m1");
  EXPECT_EQ(r.out.str(),
            "\nFly App:    mediators-acme\nRegion:     lhr\nImage:      registry/mediator:1\nName:       mediator-S1\n"
            "Metadata:   {\"meter_id\":\"m1\",\"vantor_host\":\"10.0.0.1\"}\n\nCreate machine with these details (y/n): ");
  auto body = Json::parse(r.fake.requests().at(0).body);
  EXPECT_EQ(body["region"], "lhr");
  EXPECT_EQ(body["config"]["metadata"].dump(), R"({"meter_id":"m1","vantor_host":"10.0.0.1"})");

  Rig quiet(std::nullopt, {}, "ams");
  EXPECT_EQ(quiet.orch->create("serve", "m2", "S2", "10.0.0.2", std::nullopt, std::nullopt, /*skip_confirm=*/true), "m1");
  EXPECT_TRUE(quiet.out.str().empty());
  EXPECT_EQ(Json::parse(quiet.fake.requests().at(0).body)["region"], "ams");
}

TEST(MachinesOrchestrator, CreateKeepsSecretsOutOfLogsAndConsole) {
  ScopedEnv env({{"SOCKS_HOST", "proxy"}, {"SOCKS_PORT", "1080"}, {"SOCKS_USERNAME", "u"},
                 {"SOCKS_PASSWORD", "proxy-secret"}, {"MEDIATOR_SERVER_CERT", "cert-text"},
                 {"MEDIATOR_SERVER_KEY", "key-secret"}, {"MEDIATOR_CA_CERT", "ca-text"}});
  Rig r;
  r.in.str("y\n");
  util::LogCapture cap;
  std::string id = r.orch->create("serve", "m1", "S1", "10.0.0.1", 443, std::nullopt, false, /*use_cert_auth=*/true);
  auto created = r.fake.machines()[0];
  EXPECT_EQ(created["config"]["env"]["SOCKS_PASSWORD"], "proxy-secret");  // the container gets them
  EXPECT_EQ(created["config"]["env"]["MEDIATOR_SERVER_KEY"], "key-secret");
  auto logged = cap.find("create machine response " + redact_env(created).dump(), util::Level::info);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].event.find("\"MEDIATOR_SERVER_KEY\":\"***\""), std::string::npos);  // keys stay visible
  EXPECT_EQ(cap.find("created machine with id " + id)[0].fields["machine_id"], id);
  r.orch->destroy(id, false);
  for (const auto& rec : cap.records()) {
    for (const char* secret : {"proxy-secret", "key-secret", "fly-secret-token"}) {
      EXPECT_EQ(rec.event.find(secret), std::string::npos);
      EXPECT_EQ(rec.fields.dump().find(secret), std::string::npos);
    }
  }
  for (const char* secret : {"proxy-secret", "key-secret", "fly-secret-token"}) {
    EXPECT_EQ(r.out.str().find(secret), std::string::npos);
  }
}

TEST(MachinesOrchestrator, CreateFailures) {
  {
    // Missing certificate material fails after the prompt, before any call.
    ScopedEnv env({{"MEDIATOR_SERVER_CERT", "c"}, {"MEDIATOR_SERVER_KEY", "k"}, {"MEDIATOR_CA_CERT", std::nullopt}});
    Rig r;
    r.in.str("y\n");
    try {
      r.orch->create("serve", "m1", "S1", "10.0.0.1", std::nullopt, std::nullopt, false, true);
      ADD_FAILURE();
    } catch (const util::GeneralError& e) {
      EXPECT_STREQ(e.what(), "use_cert_auth is True but certificate environment variables not set");
    }
    EXPECT_NE(r.out.str().find("(y/n): "), std::string::npos);
    EXPECT_TRUE(r.fake.requests().empty());
  }
  Rig r;
  r.fake.fail_next("create", 5);
  EXPECT_THROW(r.orch->create("serve", "m1", "S1", "10.0.0.1", std::nullopt, std::nullopt, true), util::RetryError);
  EXPECT_EQ(r.waits, (std::vector<long>{1, 2, 4, 8}));
  EXPECT_TRUE(r.fake.machines().empty());
}

TEST(MachinesOrchestrator, DestroyPrintsItsSteps) {
  Rig r;
  r.fake.add_mediator("a", "S1", "m1");
  r.orch->destroy("a", false);
  EXPECT_EQ(r.out.str(), "stop_rsp [a]: {\"ok\":true}\nwait_rsp [a]: {\"ok\":true}\ndestroy_rsp [a]: {\"ok\":true}\n");
  auto q = r.fake.requests();
  ASSERT_EQ(q.size(), 4u);
  EXPECT_EQ(q[2].query, "instance_id=i-a&state=stopped");
  EXPECT_EQ(q[3].query, "force=false&region=lhr");
  EXPECT_TRUE(r.fake.machines().empty());

  Rig f;
  f.fake.add_mediator("b", "S2", "m2");
  f.orch->destroy("b", true);
  EXPECT_EQ(f.out.str(), "destroy_rsp [b]: {\"ok\":true}\n");
  EXPECT_EQ(f.fake.requests().back().query, "force=true&region=lhr");

  // get is not retried; its error stops the destroy before the removal.
  Rig g;
  g.fake.add_mediator("c", "S3", "m3");
  g.fake.fail_next("get", 1);
  EXPECT_THROW(g.orch->destroy("c", false), util::GeneralError);
  EXPECT_EQ(g.fake.machines().size(), 1u);
}

TEST(MachinesOrchestrator, CoreEnvironmentAndMetadata) {
  Rig r;
  {
    ScopedEnv env({{"MEDIATOR_INACTIVITY_SECONDS", std::nullopt}, {"SOCKS_HOST", "h"}, {"SOCKS_PORT", "1"},
                   {"SOCKS_USERNAME", "u"}, {"SOCKS_PASSWORD", std::nullopt}, {"MEDIATOR_SERVER_CERT", std::nullopt}});
    EXPECT_FALSE(r.orch->_socks_dict().has_value());
    EXPECT_EQ(r.orch->_env_vars("10.0.0.9", false).dump(),
              R"({"VANTOR_HOST":"10.0.0.9","MEDIATOR_INACTIVITY_SECONDS":null})");
  }
  {
    ScopedEnv env({{"MEDIATOR_INACTIVITY_SECONDS", "600"}, {"SOCKS_HOST", "h"}, {"SOCKS_PORT", "1"},
                   {"SOCKS_USERNAME", "u"}, {"SOCKS_PASSWORD", ""}, {"MEDIATOR_SERVER_CERT", "c"},
                   {"MEDIATOR_SERVER_KEY", "k"}, {"MEDIATOR_CA_CERT", "a"}});
    EXPECT_EQ(r.orch->_env_vars("h", true).dump(),
              R"({"VANTOR_HOST":"h","MEDIATOR_INACTIVITY_SECONDS":"600","SOCKS_HOST":"h","SOCKS_PORT":"1",)"
              R"("SOCKS_USERNAME":"u","SOCKS_PASSWORD":"","MEDIATOR_SERVER_CERT":"c","MEDIATOR_SERVER_KEY":"k",)"
              R"("MEDIATOR_CA_CERT":"a"})");
  }
  {
    ScopedEnv env({{"MEDIATOR_SERVER_CERT", "c"}, {"MEDIATOR_SERVER_KEY", "k"}, {"MEDIATOR_CA_CERT", std::nullopt}});
    EXPECT_THROW(r.orch->_env_vars("h", true), util::GeneralError);
    EXPECT_NO_THROW(r.orch->_env_vars("h", false));
  }
  EXPECT_EQ(r.orch->_metadata("m1", "1.2.3.4").dump(), R"({"meter_id":"m1","vantor_host":"1.2.3.4"})");
  EXPECT_EQ(r.orch->_metadata("", "").dump(), R"({"meter_id":"","vantor_host":""})");
}

TEST(MachinesOrchestrator, AddressesPrivateAndByDns) {
  Rig priv;
  priv.fake.add_mediator("a", "S1", "m1");
  EXPECT_TRUE(priv.orch->use_private_address());
  EXPECT_EQ(priv.orch->mediator_address("m1", "S1"), "mediators-acme.flycast:50051");
  EXPECT_EQ(priv.orch->mediator_address("nobody", "S0"), std::nullopt);
  EXPECT_EQ(priv.out.str(), "no match for meters with id nobody\n");

  mt::DnsServer dns({"mediators-acme.fly.test,127.0.0.7", "mediators-acme.flycast,fdaa::42"});
  MachinesSettings s;
  s.public_domain = ".fly.test";
  s.public_dns_server = dns.server();
  s.mediator_port = 6001;
  Rig pub(false, s);
  pub.fake.add_mediator("a", "S1", "m1");
  EXPECT_EQ(pub.orch->mediator_address("m1", "S1"), "127.0.0.7:6001");

  MachinesOrchestrator flycast("t", dns.server(), "img", "mediators-acme");
  EXPECT_EQ(flycast.get_private_flycast_ip(), "fdaa::42");
}

TEST(MachinesOrchestrator, FailedLookupsEndWithTenAndEleven) {
  mt::DnsServer dns({"other.test,127.0.0.1"});
  MachinesSettings s;
  s.public_domain = ".fly.test";
  s.public_dns_server = dns.server();
  MachinesOrchestrator lost("t", dns.server(), "img", "mediators-nowhere", std::nullopt, false, std::nullopt, s);
  std::ostringstream out;
  std::istringstream in;
  lost.set_console(in, out);
  try {
    lost.get_private_flycast_ip();
    ADD_FAILURE();
  } catch (const util::ExitRequest& x) {
    EXPECT_EQ(x.status, 10);
  }
  EXPECT_EQ(out.str().rfind("\nFailed to resolve flycast address [", 0), 0u);
  EXPECT_NE(out.str().find("]\n\nHas Wireguard been started??\n\n"), std::string::npos);
  out.str("");
  try {
    lost.get_public_address();
    ADD_FAILURE();
  } catch (const util::ExitRequest& x) {
    EXPECT_EQ(x.status, 11);
  }
  EXPECT_EQ(out.str().rfind("\nFailed to resolve address [", 0), 0u);
  EXPECT_TRUE(out.str().ends_with("]\n\n"));
}

// Clock drift repair shares one orchestrator among its pool's workers; the
// public variant has every worker asking the name server at once.
TEST(MachinesOrchestrator, ConcurrentAddressLookupsFromThePool) {
  mt::DnsServer dns({"mediators-acme.fly.test,127.0.0.7"});
  MachinesSettings pub;
  pub.public_domain = ".fly.test";
  pub.public_dns_server = dns.server();
  for (bool private_address : {true, false}) {
    SCOPED_TRACE(private_address);
    Rig r(private_address, pub);
    std::vector<std::string> meters;
    for (int i = 0; i < 40; ++i) {
      if (i % 4 != 3) r.fake.add_mediator("id" + std::to_string(i), "S" + std::to_string(i), "m" + std::to_string(i));
      meters.push_back("m" + std::to_string(i));
    }
    auto found = util::map_in_pool(5, meters, [&](const std::string& m) { return r.orch->mediator_address(m, "S"); });
    int hits = 0;
    for (const auto& f : found) {
      if (!f) continue;
      ++hits;
      EXPECT_EQ(*f, private_address ? "mediators-acme.flycast:50051" : "127.0.0.7:50051");
    }
    EXPECT_EQ(hits, 30);
    std::istringstream lines(r.out.str());
    std::string line;
    int misses = 0;
    while (std::getline(lines, line)) {
      EXPECT_EQ(line.rfind("no match for meters with id m", 0), 0u) << line;  // whole lines, never interleaved
      ++misses;
    }
    EXPECT_EQ(misses, 10);
  }
}
