// The platform client against the loopback platform fake: what each call
// sends, how error answers and transport failures come back.
#include "orchestrate/adapter/machines_api.hpp"

#include <gtest/gtest.h>

#include "support/fake_machines.hpp"
#include "support/process.hpp"
#include "util/errors.hpp"

namespace mt = meterops::testing;
using namespace meterops;
using namespace meterops::orchestrate;
using Json = nlohmann::ordered_json;

TEST(MachinesApi, EachCallSendsItsMethodPathAndToken) {
  mt::FakeMachines fake;
  fake.add_mediator("d8e1", "S1", "m1");
  API api("fly-secret-token", fake.url() + "/");  // a trailing slash is dropped
  EXPECT_TRUE(api.list("mediators-acme", "ams").is_array());
  api.start("mediators-acme", "d8e1");
  api.stop("mediators-acme", "d8e1");
  EXPECT_EQ(api.get("mediators-acme", "d8e1")["instance_id"], "i-d8e1");
  api.wait("mediators-acme", "d8e1", "i-d8e1", "stopped");
  api.destroy("mediators-acme", "d8e1", true, "ams");
  api.list("a b&c");  // names are encoded, not spliced into the URL
  struct Want {
    const char *method, *path, *query;
  };
  const Want want[] = {
      {"GET", "/v1/apps/mediators-acme/machines", "region=ams"},
      {"POST", "/v1/apps/mediators-acme/machines/d8e1/start", ""},
      {"POST", "/v1/apps/mediators-acme/machines/d8e1/stop", ""},
      {"GET", "/v1/apps/mediators-acme/machines/d8e1", ""},
      {"GET", "/v1/apps/mediators-acme/machines/d8e1/wait", "instance_id=i-d8e1&state=stopped"},
      {"DELETE", "/v1/apps/mediators-acme/machines/d8e1", "force=true&region=ams"},
      {"GET", "/v1/apps/a b&c/machines", ""},
  };
  auto got = fake.requests();
  ASSERT_EQ(got.size(), std::size(want));
  for (std::size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].method, want[i].method);
    EXPECT_EQ(got[i].path, want[i].path);
    EXPECT_EQ(got[i].query, want[i].query);
    EXPECT_EQ(got[i].authorization, "Bearer fly-secret-token");
  }
}

TEST(MachinesApi, CreateSendsConfigWithoutUnsetEnvironmentEntries) {
  mt::FakeMachines fake;
  API api("t", fake.url());
  Json env = {{"VANTOR_HOST", "10.0.0.1"}, {"MEDIATOR_INACTIVITY_SECONDS", nullptr}, {"SOCKS_PASSWORD", ""}};
  Json metadata = {{"meter_id", "m1"}, {"vantor_host", "10.0.0.1"}};
  auto created = api.create("app", "img:1", {"serve"}, 443, 9090, "mediator-S1", env, metadata, {{"region", "ams"}});
  EXPECT_EQ(created["id"], "m1");
  auto body = Json::parse(fake.requests().back().body);
  EXPECT_EQ(body["name"], "mediator-S1");
  EXPECT_EQ(body["region"], "ams");
  EXPECT_EQ(body["config"]["image"], "img:1");
  EXPECT_EQ(body["config"]["init"]["cmd"].dump(), R"(["serve"])");
  EXPECT_EQ(body["config"]["env"].dump(), R"({"VANTOR_HOST":"10.0.0.1","SOCKS_PASSWORD":""})");
  EXPECT_EQ(body["config"]["metadata"], metadata);
  EXPECT_EQ(body["config"]["services"][0]["ports"][0]["port"], 443);
  EXPECT_EQ(body["config"]["services"][1]["internal_port"], 9090);

  // No port: the mediator port is published; no command: the image's own.
  api.create("app", "img:1", {""}, std::nullopt, std::nullopt, "mediator-S2", env, metadata, Json::object());
  body = Json::parse(fake.requests().back().body);
  EXPECT_EQ(body["config"]["services"][0]["ports"][0]["port"], 50051);
  EXPECT_EQ(body["config"]["services"].size(), 1u);
  EXPECT_FALSE(body["config"].contains("init"));
}

TEST(MachinesApi, ErrorAnswersComeBackAsErrorMaps) {
  mt::FakeMachines fake;
  API api("t", fake.url());
  fake.fail_next("start", 1);
  auto injected = api.start("app", "x");
  EXPECT_EQ(injected["error"], "injected failure");
  EXPECT_EQ(injected["status"], 500);
  auto missing = api.get("app", "nope");
  EXPECT_EQ(missing["error"], "not found");
  // A body that is not JSON still yields an error map naming the status.
  API wrong_base("t", fake.url() + "/elsewhere");
  auto not_found = wrong_base.list("app");
  ASSERT_TRUE(not_found.contains("error"));
  EXPECT_EQ(not_found["error"].get<std::string>().rfind("HTTP 404", 0), 0u);
}

TEST(MachinesApi, TransportFailureRaisesWithoutTheToken) {
  API api("fly-secret-token", "http://127.0.0.1:" + std::to_string(mt::free_port()));
  try {
    api.list("app");
    FAIL() << "no error";
  } catch (const util::ConnectError& e) {
    EXPECT_EQ(std::string(e.what()).find("fly-secret-token"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("/v1/apps/app/machines"), std::string::npos);
  }
}

TEST(MachinesApi, TokenWithALineBreakIsRefused) {
  try {
    API api("secret\r\nX-Other: 1", "http://127.0.0.1:1");
    FAIL() << "accepted";
  } catch (const util::ValueError& e) {
    EXPECT_EQ(std::string(e.what()).find("secret"), std::string::npos);
  }
}
