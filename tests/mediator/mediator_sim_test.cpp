// The mediator_sim program itself: fleet file checks, options, signals.
#include <gtest/gtest.h>

#include "mediator/api_core.hpp"
#include "support/mediator_sim.hpp"
#include "support/process.hpp"

using namespace meterops;
using nlohmann::json;
namespace mt = meterops::testing;

namespace {

mt::ProcessResult sim_with_fleet(const std::string& fleet_text) {
  mt::TempDir dir;
  mt::write_file(dir.file("fleet.json"), fleet_text);
  // A fleet that passes would keep serving: the time-out ends it.
  mt::ProcessOptions o;
  o.timeout = std::chrono::seconds(5);
  return mt::run_process(mt::bin_path("mediator_sim"), {"--listen", "127.0.0.1:0", "--fleet", dir.file("fleet.json")}, o);
}

}  // namespace

TEST(MediatorSimProgram, MalformedFleetFileNamesTheProblem) {
  struct Case {
    std::string fleet;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"{not json", "is not valid JSON"},
      {"[]", "must be a JSON object"},
      {R"({"meter": {}})", "unknown field \"meter\""},
      {R"({"meters": []})", "\"meters\" must be an object"},
      {R"({"meters": {"S1": 5}})", "meter S1 must be an object"},
      {R"({"meters": {"S1": {"hardwre": "P1.ax"}}})", "meter S1: unknown field \"hardwre\""},
      {R"({"meters": {"S1": {"hardware": 3}}})", "meter S1: \"hardware\" must be text or null"},
      {R"({"meters": {"S1": {"prepay_enabled": "yes"}}})", "\"prepay_enabled\" must be true or false"},
      {R"({"meters": {"S1": {"element_a": {"import_active": "1"}}}})", "\"element_a\" \"import_active\" must be a number"},
      {R"({"meters": {"S1": {"three_phase": {"import": 1}}}})", "unknown field \"import\""},
      {R"({"meters": {"S1": {"balance": null}}})", "\"balance\" must be a number"},
      {R"({"meters": {"S1": {"delay_ms": -5}}})", "\"delay_ms\" must be a whole number from 0"},
      {R"({"meters": {"S1": {"polyphase_intervals": 1.5}}})", "\"polyphase_intervals\" must be a whole number"},
      {R"({"meters": {"S1": {"events": {}}}})", "\"events\" must be a list"},
      {R"({"meters": {"S1": {"events": [{"timestamp": -1}]}}})", "event 0: \"timestamp\" must be meter epoch seconds"},
      {R"({"meters": {"S1": {"events": [{"timestamp": 1}, {"event_id": 2}]}}})", "event 1: \"timestamp\""},
      {R"({"meters": {"S1": {"events": [{"timestamp": 1, "event_set": "x"}]}}})", "\"event_set\" must be a whole number"},
      {R"({"meters": {"S1": {"fail": {"status": "NOPE"}}}})", "\"status\" must name a gRPC status"},
      {R"({"meters": {"S1": {"fail": {"status": "OK"}}}})", "\"status\" must name a gRPC status"},
      {R"({"meters": {"S1": {"fail": {"status": "INTERNAL", "operation": "balance"}}}})",
       "\"operation\" must be \"*\" or one of"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fleet);
    auto r = sim_with_fleet(c.fleet);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

TEST(MediatorSimProgram, BadOptionsAndTakenPorts) {
  mt::MediatorSim running;
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--delay-ms", "-1"}, 2, "--delay-ms"},
      {{"--delay-ms", "soon"}, 2, "--delay-ms"},
      {{"--tls-cert", "/nonexistent.pem"}, 2, "--tls-cert and --tls-key go together"},
      {{"--fleet", "/nonexistent/fleet.json"}, 1, "cannot read fleet file /nonexistent/fleet.json"},
      {{"--journal", "/nonexistent/journal"}, 1, "cannot write journal /nonexistent/journal"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    std::vector<std::string> args = {"--listen", "127.0.0.1:0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    mt::ProcessOptions o;
    o.timeout = std::chrono::seconds(10);
    auto r = mt::run_process(mt::bin_path("mediator_sim"), args, o);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  // A port already taken.
  {
    mt::ProcessOptions o;
    o.timeout = std::chrono::seconds(10);
    auto r = mt::run_process(mt::bin_path("mediator_sim"), {"--listen", running.address()}, o);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("cannot listen on " + running.address()), std::string::npos) << r.err;
  }
}

TEST(MediatorSimProgram, StopsCleanlyOnSignals) {
  for (int signal : {2, 15}) {
    SCOPED_TRACE(signal);
    mt::MediatorSim sim(json{{"S1", {{"hardware", "P3.cx"}}}});
    EXPECT_EQ(mediator::VantorMediatorAPI(sim.address()).hardware("S1"), "P3.cx");
    EXPECT_EQ(sim.stop(signal), 0) << sim.log();
    EXPECT_NE(sim.log().find("mediator_sim stopped"), std::string::npos) << sim.log();
  }
}

TEST(MediatorSimProgram, FleetDocumentAndWriteStateAndJournal) {
  // The whole fleet document is taken as well as its "meters" map.
  mt::MediatorSim sim(json{{"meters", {{"S1", {{"prepay_enabled", true}}}}}});
  mediator::VantorMediatorAPI api(sim.address());
  EXPECT_TRUE(api.prepay_enabled("S1"));
  api.clock_time_write("S1");
  auto j = sim.journal();
  ASSERT_EQ(j.size(), 2u);
  EXPECT_EQ(j[0]["op"], "prepay_enabled");
  EXPECT_EQ(j[1]["op"], "clock_time_write");
  EXPECT_EQ(j[1]["serial"], "S1");
  EXPECT_LE(j[0]["end_ns"].get<long long>(), j[1]["start_ns"].get<long long>());
  EXPECT_EQ(sim.peak_concurrency(), 1);
}
