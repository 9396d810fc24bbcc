#include "support/mediator_sim.hpp"

#include <algorithm>
#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace meterops::testing {

namespace {

bool is_fleet_document(const nlohmann::json& j) {
  return j.is_object() && j.size() == 1 && j.contains("meters") && j["meters"].is_object();
}

}  // namespace

MediatorSim::MediatorSim(const nlohmann::json& fleet, int delay_ms, std::vector<std::string> extra_args,
                         const ProcessOptions& options) {
  nlohmann::json doc = is_fleet_document(fleet) ? fleet
                                                : nlohmann::json{{"meters", fleet.is_null() ? nlohmann::json::object() : fleet}};
  write_file(dir_.file("fleet.json"), doc.dump());
  std::vector<std::string> args = {"--listen",    "127.0.0.1:0",         "--fleet",   dir_.file("fleet.json"),
                                   "--port-file", dir_.file("port"),     "--journal", dir_.file("journal.jsonl"),
                                   "--delay-ms",  std::to_string(delay_ms)};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  proc_ = std::make_unique<BackgroundProcess>(bin_path("mediator_sim"), args, options);
  // Bounded wait; a simulator that exits early (a refused fleet) is reported at once.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::string port_text;
  while (std::chrono::steady_clock::now() < deadline) {
    port_text = read_file(dir_.file("port"));
    if (!port_text.empty() || !proc_->running()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (port_text.empty()) throw std::runtime_error("mediator_sim did not start: " + proc_->stderr_text());
  port_ = std::stoi(port_text);
}

std::vector<nlohmann::json> MediatorSim::journal() const {
  std::vector<nlohmann::json> out;
  std::istringstream in(read_file(dir_.file("journal.jsonl")));
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    auto j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_discarded()) {
      if (in.peek() == EOF) break;  // a line still being written
      throw std::runtime_error("mediator_sim journal: bad line " + line);
    }
    out.push_back(std::move(j));
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
