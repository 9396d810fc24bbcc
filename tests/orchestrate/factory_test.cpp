// The orchestrator factory reads its settings from the environment.
#include "orchestrate/adapter/factory.hpp"

#include <cstdlib>

#include <gtest/gtest.h>

#include "support/fake_machines.hpp"
#include "util/errors.hpp"

namespace mt = meterops::testing;
using namespace meterops;
using namespace meterops::orchestrate;

namespace {

const char* const kSettings[] = {"FLY_API_TOKEN", "FLY_API_HOSTNAME", "MEDIATOR_APP", "MEDIATOR_IMAGE", "FLY_REGION",
                                 "FLY_DNS_SERVER", "MEDIATOR_USE_PRIVATE_ADDRESS", "FLY_PRIVATE_DOMAIN",
                                 "FLY_PUBLIC_DOMAIN", "PUBLIC_DNS_SERVER", "MEDIATOR_PORT"};

// Each test starts from none of the factory's settings and a token.
class Factory : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* k : kSettings) unsetenv(k);
    setenv("FLY_API_TOKEN", "fly-secret-token", 1);
  }
  void TearDown() override {
    for (const char* k : kSettings) unsetenv(k);
  }
};

}  // namespace

TEST_F(Factory, AppNameFromEscoAndEnvironment) {
  struct Case {
    std::optional<std::string> esco, env, app_setting;
    std::string want;
  };
  const Case cases[] = {
      {"ACME", "Prod", std::nullopt, "mediators-acme-prod"},
      {"ACME", std::nullopt, std::nullopt, "mediators-acme"},
      {std::nullopt, "staging", std::nullopt, "mediators-staging"},
      {"", "", std::nullopt, "mediators"},
      {std::nullopt, std::nullopt, std::nullopt, "mediators"},
      {"ACME", "prod", "Custom-App", "Custom-App"},  // taken as given
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want);
    c.app_setting ? setenv("MEDIATOR_APP", c.app_setting->c_str(), 1) : unsetenv("MEDIATOR_APP");
    EXPECT_EQ(get_instance(c.esco, c.env)->fly_app(), c.want);
  }
}

TEST_F(Factory, DefaultsAndSettings) {
  auto plain = get_instance("acme", std::nullopt);
  EXPECT_EQ(plain->region(), FLY_REGION_DEFAULT);
  EXPECT_TRUE(plain->use_private_address());
  EXPECT_EQ(plain->image(), "");

  mt::FakeMachines fake;
  fake.add_mediator("a", "S1", "m1");
  setenv("FLY_API_HOSTNAME", fake.url().c_str(), 1);
  setenv("FLY_REGION", "ams", 1);
  setenv("MEDIATOR_IMAGE", "registry/mediator:2", 1);
  setenv("FLY_PRIVATE_DOMAIN", ".internal", 1);
  setenv("MEDIATOR_PORT", "6001", 1);
  auto orch = get_instance("acme", "prod");
  EXPECT_EQ(orch->image(), "registry/mediator:2");
  EXPECT_EQ(orch->mediator_address("m1", "S1"), "mediators-acme-prod.internal:6001");
  auto q = fake.requests().at(0);
  EXPECT_EQ(q.path, "/v1/apps/mediators-acme-prod/machines");
  EXPECT_EQ(q.query, "region=ams");
  EXPECT_EQ(q.authorization, "Bearer fly-secret-token");

  setenv("MEDIATOR_USE_PRIVATE_ADDRESS", "false", 1);
  EXPECT_FALSE(get_instance("acme", "prod")->use_private_address());
}

TEST_F(Factory, BadSettings) {
  unsetenv("FLY_API_TOKEN");
  try {
    get_instance("acme", std::nullopt);
    ADD_FAILURE();
  } catch (const util::GeneralError& e) {
    EXPECT_NE(std::string(e.what()).find("FLY_API_TOKEN"), std::string::npos);
  }
  setenv("FLY_API_TOKEN", "", 1);  // empty counts as missing
  EXPECT_THROW(get_instance("acme", std::nullopt), util::GeneralError);
  setenv("FLY_API_TOKEN", "t", 1);
  for (const char* port : {"abc", "0", "70000"}) {
    setenv("MEDIATOR_PORT", port, 1);
    try {
      get_instance("acme", std::nullopt);
      ADD_FAILURE() << port;
    } catch (const util::ValueError& e) {
      EXPECT_NE(std::string(e.what()).find("MEDIATOR_PORT"), std::string::npos) << port;
    }
  }
  unsetenv("MEDIATOR_PORT");
  setenv("MEDIATOR_USE_PRIVATE_ADDRESS", "maybe", 1);
  EXPECT_THROW(get_instance("acme", std::nullopt), util::ValueError);
}
