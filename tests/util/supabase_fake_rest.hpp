// A loopback stand-in for the REST interface: records every request
// (method, path, raw target, decoded query, headers, body, client port) and answers with
// the status and body it is told to.
#pragma once

#include <httplib.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace meterops::testing {

struct SeenRequest {
  std::string method, path, target, query, body;
  httplib::Headers headers;
  int remote_port = 0;  // tells one client connection from another

  std::string header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? "<absent>" : it->second;
  }
};

class FakeRest {
 public:
  FakeRest() {
    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
      auto q = req.target.find('?');
      std::string query = q == std::string::npos ? "" : httplib::detail::decode_url(req.target.substr(q + 1), true);
      std::lock_guard lock(mu);
      seen.push_back({req.method, req.path, req.target, query, req.body, req.headers, req.remote_port});
      res.status = status;
      res.set_content(body, content_type);
    };
    server.new_task_queue = [] { return new httplib::ThreadPool(40); };
    server.set_keep_alive_timeout(1);
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(1000000);
    server.Get(".*", handler);
    server.Post(".*", handler);
    server.Patch(".*", handler);
    port = server.bind_to_any_port("127.0.0.1");
    thread = std::thread([this] { server.listen_after_bind(); });
    for (int i = 0; i < 500 && !server.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ~FakeRest() {
    server.stop();
    thread.join();
  }
  FakeRest(const FakeRest&) = delete;
  FakeRest& operator=(const FakeRest&) = delete;

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port); }
  SeenRequest last() {
    std::lock_guard lock(mu);
    return seen.empty() ? SeenRequest{} : seen.back();
  }
  void answer(int new_status, std::string new_body) {
    std::lock_guard lock(mu);
    status = new_status;
    body = std::move(new_body);
  }

  httplib::Server server;
  int port = 0;
  std::thread thread;
  std::mutex mu;
  std::vector<SeenRequest> seen;
  int status = 200;
  std::string body = "[]";
  std::string content_type = "application/json";
};

}  // namespace meterops::testing
