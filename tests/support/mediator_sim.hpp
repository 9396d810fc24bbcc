// Starts the built mediator_sim on a free loopback port for one test.
//
//   meterops::testing::MediatorSim sim({{"S1", {{"hardware", "P3.ax"}}}});
//   mediator::VantorMediatorAPI api(sim.address());
//   ... sim.journal()  // one JSON object per call: op, serial, start_ns, end_ns, ok, arguments
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/process.hpp"

namespace meterops::testing {

class MediatorSim {
 public:
  // `meters` maps serial -> meter settings (the fleet file's "meters").
  explicit MediatorSim(const nlohmann::json& meters = nlohmann::json::object(), int delay_ms = 0,
                       std::vector<std::string> extra_args = {});
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  int port() const { return port_; }
  std::vector<nlohmann::json> journal() const;
  // Journal entries of one operation, in call order.
  std::vector<nlohmann::json> calls(const std::string& op) const;
  // The most calls that were in progress at the same moment.
  int peak_concurrency() const;
  std::string log() const { return proc_->stderr_text(); }
  std::string dir() const { return dir_.path(); }

 private:
  TempDir dir_;
  std::unique_ptr<BackgroundProcess> proc_;
  int port_ = 0;
};

}  // namespace meterops::testing
