// A loopback stand-in for the machines platform API: keeps machines in
// memory, answers error maps on demand and records every request.
#pragma once

#include <httplib.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace meterops::testing {

class FakeMachines {
 public:
  using Json = nlohmann::ordered_json;
  struct Request {
    std::string method, path, query, body, authorization;
  };

  FakeMachines();
  ~FakeMachines();
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // A machine named "mediator-<serial>" with metadata meter_id.
  void add_mediator(const std::string& id, const std::string& serial, const std::string& meter_id,
                    const std::string& state = "started");
  void add_machine(Json machine);
  // The next `n` calls of `what` ("list", "create", "start", "stop", "get",
  // "wait", "destroy") answer 500 with {"error": "injected failure"}.
  void fail_next(const std::string& what, int n);
  std::vector<Request> requests() const;
  Json machines() const;

 private:
  bool take_failure(const std::string& what);
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mu_;
  Json machines_ = Json::array();
  std::vector<Request> requests_;
  std::map<std::string, int> failures_;
  int next_id_ = 1;
};

}  // namespace meterops::testing
