#include "support/mediator_sim.hpp"

#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace meterops::testing {

MediatorSim::MediatorSim(const nlohmann::json& meters, int delay_ms, std::vector<std::string> extra_args) {
  write_file(dir_.file("fleet.json"), nlohmann::json{{"meters", meters}}.dump());
  std::vector<std::string> args = {"--listen",    "127.0.0.1:0",         "--fleet",   dir_.file("fleet.json"),
                                   "--port-file", dir_.file("port"),     "--journal", dir_.file("journal.jsonl"),
                                   "--delay-ms",  std::to_string(delay_ms)};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  proc_ = std::make_unique<BackgroundProcess>(bin_path("mediator_sim"), args);
  auto port = wait_for_file(dir_.file("port"));
  if (!port) throw std::runtime_error("mediator_sim did not start: " + proc_->stderr_text());
  port_ = std::stoi(*port);
}

std::vector<nlohmann::json> MediatorSim::journal() const {
  std::vector<nlohmann::json> out;
  std::istringstream in(read_file(dir_.file("journal.jsonl")));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) out.push_back(nlohmann::json::parse(line));
  }
  return out;
}

std::vector<nlohmann::json> MediatorSim::calls(const std::string& op) const {
  std::vector<nlohmann::json> out;
  for (auto& j : journal()) {
    if (j["op"] == op) out.push_back(j);
  }
  return out;
}

int MediatorSim::peak_concurrency() const {
  std::vector<std::pair<long long, int>> edges;
  for (const auto& j : journal()) {
    edges.emplace_back(j["start_ns"].get<long long>(), 1);
    edges.emplace_back(j["end_ns"].get<long long>(), -1);
  }
  std::sort(edges.begin(), edges.end());  // an end sorts before a start at the same instant
  int now = 0, peak = 0;
  for (const auto& [t, d] : edges) peak = std::max(peak, now += d);
  return peak;
}

}  // namespace meterops::testing
