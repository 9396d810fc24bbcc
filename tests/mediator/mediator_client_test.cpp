#include <filesystem>

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
  mediator::VantorMediatorAPI api(sim.address());
  mediator::VantorPrepayAPI prepay(sim.address());
  auto a = api.read_element_a("S1");
  auto b = api.read_element_b("S1");
  EXPECT_EQ(a.import_active, 1.5);
  EXPECT_EQ(a.export_active, 0.25);
  EXPECT_EQ(b.import_active, 7.0);
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
  EXPECT_EQ(api.event_log("S1", 1).events.size(), 3u);
  EXPECT_TRUE(api.event_log("S1", 2).events.empty());
  EXPECT_THROW(api.event_log("S1", 10), util::ValueError);
  api.clock_time_write("S1");
  prepay.prepay_enabled_write("S1", false);
  EXPECT_FALSE(api.prepay_enabled("S1"));
  EXPECT_EQ(prepay.prepay_balance("S1"), 12.5);
  prepay.token_push("S1", "12345678901234567890");

  auto writes = sim.calls("prepay_enabled_write");
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0]["enabled"], false);
  EXPECT_EQ(sim.calls("token_push")[0]["token"], "12345678901234567890");
  EXPECT_EQ(sim.calls("clock_time_write").size(), 1u);
  EXPECT_EQ(sim.calls("event_log")[1]["log_idx"], 1);
}

TEST(MediatorClient, UnknownSerialsGetDeterministicValues) {
  mt::MediatorSim sim;
  mediator::VantorMediatorAPI one(sim.address()), two(sim.address());
  EXPECT_EQ(one.hardware("X1"), "P1.ax");
  EXPECT_EQ(one.read_element_a("X1").import_active, two.read_element_a("X1").import_active);
  EXPECT_FALSE(one.event_log("X1", 0).events.empty());
}

TEST(MediatorClient, FailuresCarryTheStatusName) {
  mt::MediatorSim sim({{"SLOW", {{"delay_ms", 1500}}},
                            {"BAL", {{"fail", {{"operation", "prepay_balance"}, {"status", "NOT_FOUND"}}}}},
                            {"ALL", {{"fail", {{"operation", "*"}, {"status", "INTERNAL"}}}}}});
  mediator::set_deadline(std::chrono::milliseconds(300));
  mediator::VantorMediatorAPI api(sim.address());
  mediator::VantorPrepayAPI prepay(sim.address());
  EXPECT_EQ(code_of([&] { api.hardware("SLOW"); }), "DEADLINE_EXCEEDED");
  EXPECT_EQ(code_of([&] { prepay.prepay_balance("BAL"); }), "NOT_FOUND");
  EXPECT_EQ(code_of([&] { prepay.token_push("BAL", "1"); }), "no error");
  EXPECT_EQ(code_of([&] { api.clock_time_write("ALL"); }), "INTERNAL");
  mediator::VantorMediatorAPI closed("127.0.0.1:" + std::to_string(mt::free_port()));
  EXPECT_EQ(code_of([&] { closed.hardware("S1"); }), "UNAVAILABLE");
  try {
    prepay.prepay_balance("BAL");
  } catch (const mediator::MediatorClientException& e) {
    EXPECT_NE(std::string(e.what()).find("prepay_balance for meter BAL"), std::string::npos) << e.what();
  }
  mediator::set_deadline(std::chrono::seconds(30));
  EXPECT_THROW(mediator::VantorMediatorAPI("no-port"), util::ValueError);
}

TEST(MediatorClient, PolyphaseSeriesWritesTheCsvOnlyOnSuccess) {
  mt::MediatorSim sim({{"P3", {{"polyphase_intervals", 2}}},
                            {"BAD", {{"fail", {{"operation", "polyphase_series"}, {"status", "UNAVAILABLE"}}}}}});
  mt::TempDir dir;
  mediator::VantorMediatorAPI api(sim.address());
  auto r = api.polyphase_series("P3", {"2024-03-01", std::nullopt, std::nullopt, dir.file("p3.csv"), true});
  ASSERT_EQ(r.intervals.size(), 2u);
  auto text = mt::read_file(dir.file("p3.csv"));
  EXPECT_EQ(text.substr(0, text.find('\n')), "timestamp,active_import_l1,active_import_l2,active_import_l3,status");
  EXPECT_NE(text.find("\n2024-03-01T00:30:00+00:00,"), std::string::npos) << text;

  EXPECT_EQ(code_of([&] { api.polyphase_series("BAD", {"2024-03-01", {}, {}, dir.file("bad.csv"), false}); }),
            "UNAVAILABLE");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
  auto plain = api.polyphase_series("P3", {"2024-03-02", {}, {}, dir.file("p3b.csv"), false});
  auto plain_text = mt::read_file(dir.file("p3b.csv"));
  EXPECT_EQ(plain_text.substr(0, plain_text.find('\n')), "timestamp,active_import_l1,active_import_l2,active_import_l3");
}

TEST(MediatorSimProgram, MalformedFleetFileIsAClearError) {
  mt::TempDir dir;
  mt::write_file(dir.file("fleet.json"), R"({"meters": {"S1": {"fail": {"status": "NOPE"}}}})");
  auto r = mt::run_process(mt::bin_path("mediator_sim"), {"--listen", "127.0.0.1:0", "--fleet", dir.file("fleet.json")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("fail needs a known gRPC"), std::string::npos) << r.err;
  mt::write_file(dir.file("fleet.json"), "{not json");
  r = mt::run_process(mt::bin_path("mediator_sim"), {"--listen", "127.0.0.1:0", "--fleet", dir.file("fleet.json")});
  EXPECT_EQ(r.status, 1);
}
