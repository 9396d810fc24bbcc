// Starts the built mediator_sim on a free loopback port for one test, with
// a fleet file, a port file and a call journal in its own temporary folder.
// Stopped (SIGTERM) when the object goes.
//
//   meterops::testing::MediatorSim sim({{"S1", {{"hardware", "P3.ax"}}},
//                                       {"S2", {{"fail", {{"operation", "*"}, {"status", "UNAVAILABLE"}}}}}});
//   mediator::VantorMediatorAPI api(sim.address());   // "127.0.0.1:PORT"
//   api.hardware("S1");                                // "P3.ax"
//   sim.calls("hardware")    // journal lines of one operation, in call order:
//                            // {"op", "serial", "start_ns", "end_ns", "ok", "status" (failures),
//                            //  and write arguments: "enabled", "token", "log_idx", "day", ...}
//   sim.peak_concurrency()   // most calls in progress at one moment
//
// The first argument is the fleet file's "meters" map (serial -> meter); a
// whole fleet document {"meters": {...}} is taken as well. A fleet the
// simulator refuses, or a simulator that does not come up within 20 s,
// throws std::runtime_error carrying its standard error.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/process.hpp"

namespace meterops::testing {

class MediatorSim {
 public:
  explicit MediatorSim(const nlohmann::json& fleet = nlohmann::json::object(), int delay_ms = 0,
                       std::vector<std::string> extra_args = {}, const ProcessOptions& options = {});
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  int port() const { return port_; }
  // Every call so far, one JSON object each, in the order they finished.
  std::vector<nlohmann::json> journal() const;
  // Journal entries of one operation, in call order.
  std::vector<nlohmann::json> calls(const std::string& op) const;
  // The most calls that were in progress at the same moment.
  int peak_concurrency() const;
  // The simulator's standard error (its log) so far.
  std::string log() const { return proc_->stderr_text(); }
  std::string dir() const { return dir_.path(); }
  // Stops the simulator with `signal`; returns its exit status.
  int stop(int signal = 15) { return proc_->stop(signal); }

 private:
  TempDir dir_;
  std::unique_ptr<BackgroundProcess> proc_;
  int port_ = 0;
};

}  // namespace meterops::testing
