#include "support/fake_machines.hpp"

namespace meterops::testing {

FakeMachines::FakeMachines() {
  server_.set_tcp_nodelay(true);
  // One request per connection: a client's kept-alive connection would hold
  // the server's stop() for the whole keep-alive time-out.
  server_.set_keep_alive_max_count(1);
  auto record = [this](const httplib::Request& req) {
    std::lock_guard lock(mu_);
    auto q = req.target.find('?');
    requests_.push_back({req.method, req.path, q == std::string::npos ? "" : req.target.substr(q + 1), req.body,
                         req.get_header_value("Authorization")});
  };
  auto error = [](httplib::Response& res) {
    res.status = 500;
    res.set_content(R"({"error":"injected failure"})", "application/json");
  };
  server_.Get(R"(/v1/apps/([^/]+)/machines)", [=, this](const httplib::Request& req, httplib::Response& res) {
    record(req);
    if (take_failure("list")) return error(res);
    std::lock_guard lock(mu_);
    res.set_content(machines_.dump(), "application/json");
  });
  server_.Post(R"(/v1/apps/([^/]+)/machines)", [=, this](const httplib::Request& req, httplib::Response& res) {
    record(req);
    if (take_failure("create")) return error(res);
    auto body = Json::parse(req.body);
    std::lock_guard lock(mu_);
    Json m = {{"id", "m" + std::to_string(next_id_++)}, {"name", body["name"]}, {"state", "created"},
              {"instance_id", "i1"}, {"config", body["config"]}};
    machines_.push_back(m);
    res.set_content(m.dump(), "application/json");
  });
  server_.Post(R"(/v1/apps/([^/]+)/machines/([^/]+)/(start|stop))", [=, this](const httplib::Request& req, httplib::Response& res) {
    record(req);
    if (take_failure(req.matches[3])) return error(res);
    res.set_content(R"({"ok":true})", "application/json");
  });
  server_.Get(R"(/v1/apps/([^/]+)/machines/([^/]+)/wait)", [=, this](const httplib::Request& req, httplib::Response& res) {
    record(req);
    if (take_failure("wait")) return error(res);
    res.set_content(R"({"ok":true})", "application/json");
  });
  server_.Get(R"(/v1/apps/([^/]+)/machines/([^/]+))", [=, this](const httplib::Request& req, httplib::Response& res) {
    record(req);
    if (take_failure("get")) return error(res);
    std::lock_guard lock(mu_);
    for (const auto& m : machines_) {
      if (m["id"] == req.matches[2]) return res.set_content(m.dump(), "application/json");
    }
    res.status = 404;
    res.set_content(R"({"error":"not found"})", "application/json");
  });
  server_.Delete(R"(/v1/apps/([^/]+)/machines/([^/]+))", [=, this](const httplib::Request& req, httplib::Response& res) {
    record(req);
    if (take_failure("destroy")) return error(res);
    std::lock_guard lock(mu_);
    Json kept = Json::array();
    for (const auto& m : machines_) {
      if (m["id"] != req.matches[2]) kept.push_back(m);
    }
    machines_ = kept;
    res.set_content(R"({"ok":true})", "application/json");
  });
  port_ = server_.bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  for (int i = 0; i < 500 && !server_.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

FakeMachines::~FakeMachines() {
  server_.stop();
  thread_.join();
}

void FakeMachines::add_mediator(const std::string& id, const std::string& serial, const std::string& meter_id,
                                const std::string& state) {
  add_machine({{"id", id}, {"name", "mediator-" + serial}, {"state", state}, {"instance_id", "i-" + id},
               {"config", {{"image", "img"}, {"services", {{{"ports", {{{"port", 443}}}}}}},
                           {"metadata", {{"meter_id", meter_id}, {"vantor_host", "10.0.0.1"}}}}}});
}

void FakeMachines::add_machine(Json machine) {
  std::lock_guard lock(mu_);
  machines_.push_back(std::move(machine));
}

void FakeMachines::fail_next(const std::string& what, int n) {
  std::lock_guard lock(mu_);
  failures_[what] = n;
}

bool FakeMachines::take_failure(const std::string& what) {
  std::lock_guard lock(mu_);
  auto it = failures_.find(what);
  if (it == failures_.end() || it->second <= 0) return false;
  --it->second;
  return true;
}

std::vector<FakeMachines::Request> FakeMachines::requests() const {
  std::lock_guard lock(mu_);
  return requests_;
}

FakeMachines::Json FakeMachines::machines() const {
  std::lock_guard lock(mu_);
  return machines_;
}

}  // namespace meterops::testing
