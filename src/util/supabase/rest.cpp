// The hosted project's REST interface (PostgREST under /rest/v1/) over
// libcurl. Each thread keeps one easy handle whose connections serve every
// client on that thread; DNS answers and TLS sessions are shared by all
// threads through one share handle. Connections themselves are not shared
// across threads: libcurl does not support that safely (it crashed under load).
#include <curl/curl.h>

#include <array>
#include <atomic>
#include <mutex>

#include "util/settings.hpp"
#include "util/url.hpp"
#include "util/supabase/detail.hpp"

namespace meterops::util::detail {

namespace {

class CurlShare {
 public:
  CurlShare() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    share_ = curl_share_init();
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &CurlShare::lock);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &CurlShare::unlock);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  }
  CURLSH* get() const { return share_; }

 private:
  static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<CurlShare*>(self)->mutexes_[static_cast<std::size_t>(data) % kLocks].lock();
  }
  static void unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<CurlShare*>(self)->mutexes_[static_cast<std::size_t>(data) % kLocks].unlock();
  }
  static constexpr std::size_t kLocks = 8;
  CURLSH* share_;
  std::array<std::mutex, kLocks> mutexes_;
};

CurlShare& shared() {
  static CurlShare* s = new CurlShare();  // lives for the process: handles may outlive statics
  return *s;
}

std::atomic<int>& keep_alive_setting() {
  static std::atomic<int> v{-1};  // -1: not read yet
  return v;
}

bool keep_alive() {
  auto& v = keep_alive_setting();
  if (v.load() < 0) v = env_bool("SUPABASE_HTTP_KEEPALIVE", true) ? 1 : 0;
  return v.load() == 1;
}

// An item of an in.() list: double-quoted when it holds a character that
// PostgREST reads as syntax.
std::string list_item(const Row& v) {
  std::string t = value_text(v);
  bool quote = t.empty() || t.find_first_of(",.:()\" \\\t") != std::string::npos;
  if (!quote) return t;
  std::string out = "\"";
  for (char c : t) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string filter_value(const Filter& f) {
  if (f.op == "in") {
    std::string out = "in.(";
    bool first = true;
    for (const auto& v : f.value) {
      if (!first) out += ",";
      out += list_item(v);
      first = false;
    }
    return out + ")";
  }
  return f.op + "." + value_text(f.value);
}

std::size_t on_body(char* data, std::size_t size, std::size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

class RestBackend : public Backend {
 public:
  RestBackend(std::string url, std::string key, std::string role_key)
      : base_(std::move(url)), key_(std::move(key)), role_key_(std::move(role_key)) {
    while (!base_.empty() && base_.back() == '/') base_.pop_back();
    // For messages: the address without any user information it may carry.
    shown_ = base_.substr(0, base_.find('?'));
    auto host = shown_.find("://");
    host = host == std::string::npos ? 0 : host + 3;
    auto at = shown_.find('@', host);
    if (at != std::string::npos && at < shown_.find('/', host)) shown_ = shown_.substr(0, host) + "***" + shown_.substr(at);
  }

  Response execute(const Query& q) override {
    std::vector<std::pair<std::string, std::string>> params;
    if (q.method == "select") params.emplace_back("select", compact_select(q.select));
    for (const auto& f : q.filters) params.emplace_back(f.column, filter_value(f));
    if (q.order) params.emplace_back("order", q.order->first + (q.order->second ? ".desc" : ".asc"));
    if (q.limit) params.emplace_back("limit", std::to_string(*q.limit));
    if (q.method == "upsert" && !q.on_conflict.empty()) params.emplace_back("on_conflict", q.on_conflict);

    std::string url = base_ + "/rest/v1/" + util::url_encode(q.table);
    for (std::size_t i = 0; i < params.size(); ++i) {
      url += (i ? "&" : "?") + util::url_encode(params[i].first) + "=" + util::url_encode(params[i].second);
    }
    std::string method = q.method == "select" ? "GET" : q.method == "update" ? "PATCH" : "POST";
    std::string body = q.method == "select" ? "" : q.body.dump(-1, ' ', false, Row::error_handler_t::replace);

    // One easy handle per thread, reset per request: its connection stays warm.
    thread_local std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> h(curl_easy_init(), &curl_easy_cleanup);
    if (!h) throw GeneralError("cannot create an HTTP request");
    curl_easy_reset(h.get());
    curl_slist* headers = nullptr;
    auto add = [&](const std::string& line) { headers = curl_slist_append(headers, line.c_str()); };
    add("apikey: " + key_);
    add("Authorization: Bearer " + role_key_);
    add("Accept: application/json");
    if (q.schema) add((method == "GET" ? "Accept-Profile: " : "Content-Profile: ") + *q.schema);
    if (method != "GET") {
      add("Content-Type: application/json");
      std::string prefer = "Prefer: return=representation";
      if (q.method == "upsert") {
        prefer += q.ignore_duplicates ? ",resolution=ignore-duplicates" : ",resolution=merge-duplicates";
      }
      add(prefer);
    }
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> header_guard(headers, &curl_slist_free_all);
    std::string answer;
    CURL* c = h.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, method.c_str());
    if (method != "GET") {
      curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.c_str());
      curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    }
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &on_body);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(c, CURLOPT_SHARE, shared().get());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, connect_timeout_seconds());
    curl_easy_setopt(c, CURLOPT_TIMEOUT, request_timeout_seconds());
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
    if (!keep_alive()) curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 1L);

    CURLcode rc = curl_easy_perform(c);
    const std::string what = method + " " + q.table;
    if (rc != CURLE_OK) {
      long connected = 0;
      curl_easy_getinfo(c, CURLINFO_CONNECT_TIME_T, &connected);
      bool cannot_reach = rc == CURLE_COULDNT_CONNECT || rc == CURLE_COULDNT_RESOLVE_HOST ||
                          rc == CURLE_COULDNT_RESOLVE_PROXY || rc == CURLE_SSL_CONNECT_ERROR ||
                          (rc == CURLE_OPERATION_TIMEDOUT && connected == 0);
      std::string msg = "database " + what + " at " + shown_ + " failed: " + curl_easy_strerror(rc);
      if (cannot_reach) throw ConnectError(msg);
      throw GeneralError(msg);
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    Row parsed = Row::parse(answer, nullptr, false);
    if (status < 200 || status >= 300) {
      std::string message = answer.substr(0, 500);
      if (parsed.is_object() && parsed.contains("message")) {
        message = value_text(parsed["message"]);
        if (parsed.contains("code") && !parsed["code"].is_null()) message += " (code " + value_text(parsed["code"]) + ")";
        if (parsed.contains("details") && !parsed["details"].is_null()) message += ": " + value_text(parsed["details"]);
      }
      throw GeneralError("database " + what + " failed with HTTP " + std::to_string(status) + ": " + message);
    }
    Response r;
    if (answer.empty()) return r;  // 201/204 without a body
    if (parsed.is_discarded()) {
      throw GeneralError("database " + what + " answered with a body that is not JSON (HTTP " +
                         std::to_string(status) + ")");
    }
    if (parsed.is_object()) parsed = Row::array({parsed});
    if (!parsed.is_array()) throw GeneralError("database " + what + " answered with JSON that is not a list of rows");
    r.data = std::move(parsed);
    return r;
  }

 private:
  std::string base_;
  std::string shown_;
  std::string key_;
  std::string role_key_;
};

}  // namespace

void set_http_keep_alive(bool on) { keep_alive_setting() = on ? 1 : 0; }

std::shared_ptr<Backend> make_rest_backend(const std::string& url, const std::string& key,
                                           const std::string& role_key) {
  return std::make_shared<RestBackend>(url, key, role_key);
}

}  // namespace meterops::util::detail
