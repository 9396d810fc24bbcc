// The mediator clients against mediator_sim: every operation, injected
// failures, and the client settings (deadline, address, log level).
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "mediator/api_core.hpp"
#include "mediator/api_prepay.hpp"
#include "mediator/channel.hpp"
#include "support/mediator_sim.hpp"
#include "support/process.hpp"

using namespace meterops;
using nlohmann::json;
namespace mt = meterops::testing;

namespace {

std::string code_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const mediator::MediatorClientException& e) {
    return e.code_str();
  }
  return "no error";
}

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace

TEST(MediatorClient, EveryOperationRoundTrips) {
  json events = json::array();
  for (int i = 0; i < 13; ++i) events.push_back({{"timestamp", 789000000 - i * 60}, {"event_id", i + 1}, {"event_set", 2}});
  mt::MediatorSim sim({{"S1",
                        {{"hardware", "P3.ax"},
                         {"firmware_version", "2.4.1"},
                         {"prepay_enabled", true},
                         {"element_a", {{"import_active", 1.5}, {"export_active", 0.25}}},
                         {"element_b", {{"import_active", 7.0}, {"export_active", 0.5}}},
                         {"three_phase", {{"active_import", 9.5}, {"active_export", 1.0}}},
                         {"tariffs_active", {{"rate", 0.31}, {"bands", {1, 2}}}},
                         {"events", events},
                         {"balance", 12.5}}},
                       {"NOHW", {{"hardware", nullptr}, {"firmware_version", nullptr}}}});
  mediator::VantorMediatorAPI api(sim.address(), util::Level::info);
  mediator::VantorPrepayAPI prepay(sim.address(), util::Level::info);
  auto a = api.read_element_a("S1");
  auto b = api.read_element_b("S1");
  EXPECT_EQ(a.import_active, 1.5);
  EXPECT_EQ(a.export_active, 0.25);
  EXPECT_EQ(b.import_active, 7.0);
  EXPECT_EQ(b.export_active, 0.5);
  auto tp = api.three_phase_read("S1");
  EXPECT_EQ(tp.active_import, 9.5);
  EXPECT_EQ(tp.active_export, 1.0);
  EXPECT_EQ(api.hardware("S1"), "P3.ax");
  EXPECT_EQ(api.firmware_version("S1"), "2.4.1");
  EXPECT_EQ(api.hardware("NOHW"), std::nullopt);
  EXPECT_EQ(api.firmware_version("NOHW"), std::nullopt);
  EXPECT_TRUE(api.prepay_enabled("S1"));
  EXPECT_EQ(api.tariffs_active_read("S1").dump(), R"({"bands":[1,2],"rate":0.31})");
  auto page0 = api.event_log("S1", 0);
  ASSERT_EQ(page0.events.size(), 10u);
  EXPECT_EQ(page0.events[0].timestamp, 789000000u);
  EXPECT_EQ(page0.events[0].event_id, 1);
  EXPECT_EQ(page0.events[0].event_set, 2);
  auto page1 = api.event_log("S1", 1);
  ASSERT_EQ(page1.events.size(), 3u);
  EXPECT_EQ(page1.events[0].event_id, 11);
  EXPECT_TRUE(api.event_log("S1", 2).events.empty());
  EXPECT_THROW(api.event_log("S1", 10), util::ValueError);
  api.clock_time_write("S1");
  prepay.prepay_enabled_write("S1", false);
  EXPECT_FALSE(api.prepay_enabled("S1"));  // the write sticks
  EXPECT_EQ(prepay.prepay_balance("S1"), 12.5);
  prepay.token_push("S1", "12345678901234567890");

  auto writes = sim.calls("prepay_enabled_write");
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0]["enabled"], false);
  EXPECT_EQ(sim.calls("token_push")[0]["token"], "12345678901234567890");
  EXPECT_EQ(sim.calls("clock_time_write").size(), 1u);
  EXPECT_EQ(sim.calls("event_log")[1]["log_idx"], 1);
  EXPECT_EQ(sim.calls("event_log").size(), 3u);  // index 10 never left the client
  // The simulator logs every call, but never a token.
  EXPECT_NE(sim.log().find("token_push"), std::string::npos);
  EXPECT_EQ(sim.log().find("12345678901234567890"), std::string::npos);
}

TEST(MediatorClient, UnknownSerialsGetValuesDerivedFromTheSerial) {
  std::vector<std::string> answers[2];
  for (auto& out : answers) {
    mt::MediatorSim sim;  // a fresh simulator each time: nothing random
    mediator::VantorMediatorAPI api(sim.address());
    mediator::VantorPrepayAPI prepay(sim.address());
    EXPECT_EQ(api.hardware("X1"), "P1.ax");
    out = {std::to_string(api.read_element_a("X1").import_active), std::to_string(api.read_element_a("X2").import_active),
           *api.firmware_version("X1"), std::to_string(prepay.prepay_balance("X1")),
           std::to_string(api.event_log("X1", 0).events.size())};
  }
  EXPECT_EQ(answers[0], answers[1]);
  EXPECT_NE(answers[0][0], answers[0][1]);
  EXPECT_NE(answers[0][4], "0");
}

TEST(MediatorClient, FailuresCarryTheStatusNameOperationAndSerial) {
  mt::MediatorSim sim({{"SLOW", {{"delay_ms", 1500}}},
                       {"BAL", {{"fail", {{"operation", "prepay_balance"}, {"status", "NOT_FOUND"}}}}},
                       {"DENY", {{"fail", {{"operation", "token_push"}, {"status", "PERMISSION_DENIED"}}}}},
                       {"ALL", {{"fail", {{"status", "INTERNAL"}}}}}});
  mediator::set_deadline(std::chrono::milliseconds(300));
  mediator::VantorMediatorAPI api(sim.address());
  mediator::VantorPrepayAPI prepay(sim.address());
  mediator::VantorMediatorAPI closed("127.0.0.1:" + std::to_string(mt::free_port()));
  struct Case {
    const char* what;
    std::function<void()> call;
    const char* code;
    const char* names;  // in the message
  };
  const std::vector<Case> cases = {
      {"slow meter", [&] { api.hardware("SLOW"); }, "DEADLINE_EXCEEDED", "hardware for meter SLOW"},
      {"injected on one operation", [&] { prepay.prepay_balance("BAL"); }, "NOT_FOUND", "prepay_balance for meter BAL"},
      {"other operations of that meter", [&] { prepay.token_push("BAL", "1"); }, "no error", ""},
      {"injected on a write", [&] { prepay.token_push("DENY", "1"); }, "PERMISSION_DENIED", "token_push for meter DENY"},
      {"injected on every operation", [&] { api.clock_time_write("ALL"); }, "INTERNAL", "clock_time_write for meter ALL"},
      {"every operation, a read", [&] { api.event_log("ALL", 0); }, "INTERNAL", "event_log for meter ALL"},
      {"nothing listening", [&] { closed.hardware("S1"); }, "UNAVAILABLE", "hardware for meter S1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      c.call();
      EXPECT_STREQ(c.code, "no error");
    } catch (const mediator::MediatorClientException& e) {
      EXPECT_EQ(e.code_str(), c.code);
      EXPECT_NE(std::string(e.what()).find(c.names), std::string::npos) << e.what();
    }
  }
  mediator::set_deadline(std::chrono::seconds(30));
  // A failed write is not recorded as done.
  auto pushes = sim.calls("token_push");
  ASSERT_EQ(pushes.size(), 2u);
  EXPECT_EQ(pushes[1]["ok"], false);
  EXPECT_EQ(pushes[1]["status"], "PERMISSION_DENIED");
}

TEST(MediatorClient, PolyphaseSeriesFromTheSimulator) {
  mt::MediatorSim sim({{"P3", {{"polyphase_intervals", 8}}},
                       {"BAD", {{"fail", {{"operation", "polyphase_series"}, {"status", "UNAVAILABLE"}}}}}});
  mt::TempDir dir;
  mediator::VantorMediatorAPI api(sim.address());
  auto r = api.polyphase_series("P3", {"2024-03-01", std::nullopt, std::nullopt, dir.file("p3.csv"), true});
  ASSERT_EQ(r.intervals.size(), 8u);
  auto text = mt::read_file(dir.file("p3.csv"));
  EXPECT_EQ(text.substr(0, text.find('\n')), "timestamp,active_import_l1,active_import_l2,active_import_l3,status");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 9);
  EXPECT_NE(text.find("\n2024-03-01T00:30:00+00:00,"), std::string::npos) << text;
  // A window inside the day: start included, end excluded.
  auto window = api.polyphase_series("P3", {"2024-03-01", "2024-03-01T01:00:00Z", "2024-03-01T02:30:00+00:00",
                                            dir.file("window.csv"), false});
  ASSERT_EQ(window.intervals.size(), 3u);
  EXPECT_EQ(window.intervals[0].timestamp, "2024-03-01T01:00:00+00:00");
  EXPECT_EQ(window.intervals[2].timestamp, "2024-03-01T02:00:00+00:00");
  EXPECT_EQ(sim.calls("polyphase_series")[1]["start_time"], "2024-03-01T01:00:00Z");
  EXPECT_EQ(code_of([&] { api.polyphase_series("P3", {"2024-13-01", {}, {}, dir.file("x.csv"), false}); }),
            "INVALID_ARGUMENT");
  EXPECT_EQ(code_of([&] { api.polyphase_series("BAD", {"2024-03-01", {}, {}, dir.file("bad.csv"), false}); }),
            "UNAVAILABLE");
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) files.push_back(e.path().filename());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"p3.csv", "window.csv"}));
}

TEST(MediatorClient, DeadlineSetting) {
  struct Case {
    std::optional<std::string> value;
    long long ms;  // -1: a ValueError naming the variable
  };
  const std::vector<Case> cases = {
      {std::nullopt, 30000}, {"", 30000},     {"5", 5000},   {" 2.5 ", 2500}, {"0.0001", 1},
      {"0", -1},             {"-3", -1},      {"abc", -1},   {"5s", -1},      {"nan", -1},
      {"inf", -1},           {"86401", -1},   {"1e300", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value.value_or("<unset>"));
    ScopedEnv env("MEDIATOR_DEADLINE_SECONDS", c.value);
    if (c.ms < 0) {
      try {
        mediator::read_deadline_setting();
        ADD_FAILURE() << "accepted";
      } catch (const util::ValueError& e) {
        EXPECT_NE(std::string(e.what()).find("MEDIATOR_DEADLINE_SECONDS"), std::string::npos) << e.what();
      }
    } else {
      EXPECT_EQ(mediator::read_deadline_setting().count(), c.ms);
    }
  }
}

TEST(MediatorClient, AddressMustBeHostAndPort) {
  for (const char* good : {"127.0.0.1:50051", "mediator-7.internal:1", "[::1]:65535"}) {
    EXPECT_NO_THROW(mediator::VantorMediatorAPI{good}) << good;
  }
  for (const char* bad : {"", "no-port", "host:", ":50051", "host:0", "host:65536", "host:5o051", "host: 1",
                          "dns:///host:1"}) {
    EXPECT_THROW(mediator::VantorMediatorAPI{bad}, util::ValueError) << bad;
    EXPECT_THROW(mediator::VantorPrepayAPI{bad}, util::ValueError) << bad;
  }
}

TEST(MediatorClient, LoggingLevelHidesPerCallLines) {
  mt::MediatorSim sim;
  auto old = util::log_level();
  util::set_log_level(util::Level::debug);
  util::LogCapture cap;
  mediator::VantorMediatorAPI(sim.address(), util::Level::info).hardware("S1");
  EXPECT_FALSE(cap.contains("mediator call"));
  mediator::VantorMediatorAPI(sim.address(), util::Level::debug).hardware("S1");
  mediator::VantorMediatorAPI(sim.address()).hardware("S2");
  auto lines = cap.find("mediator call", util::Level::debug);
  util::set_log_level(old);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].fields["operation"], "hardware");
  EXPECT_EQ(lines[1].fields["serial"], "S2");
  EXPECT_EQ(lines[1].fields["status"], "OK");
}

// Fifteen clients in fifteen threads, as a fleet job's worker pool runs
// them: each gets its own meter's answers and the simulator serves them
// side by side.
TEST(MediatorClient, ClientsInManyThreads) {
  mt::MediatorSim sim(json::object(), 1000), reference;
  std::vector<std::thread> threads;
  std::vector<std::string> got(15), want(15);
  for (int i = 0; i < 15; ++i) {
    threads.emplace_back([&, i] {
      mediator::VantorMediatorAPI api(sim.address());
      got[i] = *api.firmware_version("T" + std::to_string(i));
    });
  }
  for (auto& t : threads) t.join();
  mediator::VantorMediatorAPI api(reference.address());
  for (int i = 0; i < 15; ++i) EXPECT_EQ(got[i], *api.firmware_version("T" + std::to_string(i))) << i;
  EXPECT_EQ(sim.peak_concurrency(), 15);
}
