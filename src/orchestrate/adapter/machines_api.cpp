#include "orchestrate/adapter/machines_api.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "util/errors.hpp"
#include "util/url.hpp"

namespace meterops::orchestrate {

namespace {

std::size_t on_body(char* data, std::size_t size, std::size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

// One easy handle per thread: its live connections serve every call that
// thread makes, so a worker asking for many meters' addresses does not pay
// a TLS handshake per call. Handles are never shared across threads.
class ThreadHandle {
 public:
  ThreadHandle() {
    static std::once_flag init;
    std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    h_ = curl_easy_init();
  }
  ~ThreadHandle() {
    if (h_) curl_easy_cleanup(h_);
  }
  CURL* get() {
    if (!h_) throw util::GeneralError("cannot create an HTTP request");
    curl_easy_reset(h_);  // options only; the connection cache stays
    return h_;
  }

 private:
  CURL* h_ = nullptr;
};

CURL* thread_handle() {
  thread_local ThreadHandle handle;
  return handle.get();
}

}  // namespace

API::API(std::string api_token, std::string base_url) : token_(std::move(api_token)), base_(std::move(base_url)) {
  while (!base_.empty() && base_.back() == '/') base_.pop_back();
  // A line break would end the header early and smuggle in another one.
  if (token_.find_first_of("\r\n") != std::string::npos) {
    throw util::ValueError("the machines platform token holds a line break");
  }
}

API::Json API::request(const std::string& method, const std::string& path, const std::optional<Json>& body) const {
  CURL* h = thread_handle();
  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, ("Authorization: Bearer " + token_).c_str());
  headers = curl_slist_append(headers, "Content-Type: application/json");
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> guard(headers, &curl_slist_free_all);
  std::string url = base_ + path, text = body ? body->dump() : "", answer;
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
  if (body) {
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, text.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(text.size()));
  }
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &on_body);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 10L);
  curl_easy_setopt(h, CURLOPT_TIMEOUT, 120L);
  CURLcode rc = curl_easy_perform(h);
  if (rc != CURLE_OK) {
    std::string msg = "machines platform " + method + " " + path + " failed: " + curl_easy_strerror(rc);
    if (rc == CURLE_COULDNT_CONNECT || rc == CURLE_COULDNT_RESOLVE_HOST) throw util::ConnectError(msg);
    throw util::GeneralError(msg);
  }
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  Json parsed = Json::parse(answer, nullptr, false);
  if (status < 200 || status >= 300) {
    Json err = Json::object();
    err["error"] = parsed.is_object() && parsed.contains("error") ? parsed["error"]
                                                                   : Json("HTTP " + std::to_string(status) + ": " + answer.substr(0, 300));
    err["status"] = status;
    return err;
  }
  if (answer.empty()) return Json::object();
  if (parsed.is_discarded()) return Json{{"error", "the platform answered with a body that is not JSON"}};
  return parsed;
}

API::Json API::list(const std::string& app, const std::optional<std::string>& region) const {
  return request("GET", "/v1/apps/" + util::url_encode(app) + "/machines" + (region ? "?region=" + util::url_encode(*region) : ""), std::nullopt);
}

API::Json API::create(const std::string& app, const std::string& image, const std::vector<std::string>& cmd,
                      std::optional<int> port, std::optional<int> additional_internal_port, const std::string& name,
                      const Json& env_vars, const Json& metadata, const Json& extra_config) const {
  Json env = Json::object();
  for (auto it = env_vars.begin(); it != env_vars.end(); ++it) {
    if (!it.value().is_null()) env[it.key()] = it.value();  // unset settings are left out
  }
  Json services = Json::array();
  Json ports = Json::array();
  // Without a port the mediator port itself is published, so the machine is
  // reachable at the app's private address and lists with a port.
  ports.push_back({{"port", port.value_or(50051)}, {"handlers", Json::array()}});
  services.push_back({{"protocol", "tcp"}, {"internal_port", 50051}, {"ports", ports}});
  if (additional_internal_port) {
    services.push_back({{"protocol", "tcp"}, {"internal_port", *additional_internal_port}, {"ports", Json::array()}});
  }
  Json config = {{"image", image}};
  // An empty command leaves the image's own command in place.
  if (std::any_of(cmd.begin(), cmd.end(), [](const std::string& c) { return !c.empty(); })) {
    config["init"] = {{"cmd", cmd}};
  }
  config["env"] = env;
  config["metadata"] = metadata;
  config["services"] = services;
  Json body = {{"name", name}, {"config", config}};
  for (auto it = extra_config.begin(); it != extra_config.end(); ++it) body[it.key()] = it.value();
  return request("POST", "/v1/apps/" + util::url_encode(app) + "/machines", body);
}

API::Json API::start(const std::string& app, const std::string& id) const {
  return request("POST", "/v1/apps/" + util::url_encode(app) + "/machines/" + util::url_encode(id) + "/start", Json::object());
}
API::Json API::stop(const std::string& app, const std::string& id) const {
  return request("POST", "/v1/apps/" + util::url_encode(app) + "/machines/" + util::url_encode(id) + "/stop", Json::object());
}
API::Json API::get(const std::string& app, const std::string& id) const {
  return request("GET", "/v1/apps/" + util::url_encode(app) + "/machines/" + util::url_encode(id), std::nullopt);
}
API::Json API::wait(const std::string& app, const std::string& id, const std::string& instance_id,
                    const std::string& state) const {
  return request("GET", "/v1/apps/" + util::url_encode(app) + "/machines/" + util::url_encode(id) + "/wait?instance_id=" + util::url_encode(instance_id) +
                            "&state=" + util::url_encode(state),
                 std::nullopt);
}
API::Json API::destroy(const std::string& app, const std::string& id, bool force,
                       const std::optional<std::string>& region) const {
  return request("DELETE",
                 "/v1/apps/" + util::url_encode(app) + "/machines/" + util::url_encode(id) + "?force=" + (force ? "true" : "false") +
                     (region ? "&region=" + util::url_encode(*region) : ""),
                 std::nullopt);
}

}  // namespace meterops::orchestrate
