// mediator_sim: a mediator service over gRPC that answers from a simulated
// fleet, for tests, the demo and benchmarks.
//
//   mediator_sim --listen 127.0.0.1:0 [--fleet FILE] [--delay-ms N]
//                [--port-file PATH] [--journal PATH]
//                [--tls-cert PEM --tls-key PEM [--tls-client-ca PEM]]
//
// Meters not in the fleet file answer with values derived from their serial.
// A journal, when asked for, gets one JSON line per call. TLS also comes
// from MEDIATOR_SERVER_CERT / MEDIATOR_SERVER_KEY (+ MEDIATOR_CA_CERT for
// client certificates) when no --tls option is given.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <functional>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <grpcpp/grpcpp.h>
#include <grpcpp/resource_quota.h>
#include <nlohmann/json.hpp>

#include "mediator/channel.hpp"
#include "mediator/proto/mediator.grpc.pb.h"
#include "util/logging.hpp"
#include "util/program.hpp"
#include "util/settings.hpp"
#include "vantor/codec/epoch.hpp"

namespace v1 = meterops::mediator::v1;
using Json = nlohmann::json;
using meterops::util::Logger;

namespace {

const Logger& logger() {
  static const Logger log = meterops::util::get_logger("tools.mediator_sim", __FILE__);
  return log;
}

std::uint64_t fnv1a(const std::string& s) {
  std::uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  return h;
}

const std::map<std::string, grpc::StatusCode> kStatusCodes = {
    {"CANCELLED", grpc::CANCELLED},
    {"UNKNOWN", grpc::UNKNOWN},
    {"INVALID_ARGUMENT", grpc::INVALID_ARGUMENT},
    {"DEADLINE_EXCEEDED", grpc::DEADLINE_EXCEEDED},
    {"NOT_FOUND", grpc::NOT_FOUND},
    {"ALREADY_EXISTS", grpc::ALREADY_EXISTS},
    {"PERMISSION_DENIED", grpc::PERMISSION_DENIED},
    {"RESOURCE_EXHAUSTED", grpc::RESOURCE_EXHAUSTED},
    {"FAILED_PRECONDITION", grpc::FAILED_PRECONDITION},
    {"ABORTED", grpc::ABORTED},
    {"OUT_OF_RANGE", grpc::OUT_OF_RANGE},
    {"UNIMPLEMENTED", grpc::UNIMPLEMENTED},
    {"INTERNAL", grpc::INTERNAL},
    {"UNAVAILABLE", grpc::UNAVAILABLE},
    {"DATA_LOSS", grpc::DATA_LOSS},
    {"UNAUTHENTICATED", grpc::UNAUTHENTICATED},
};

const std::vector<std::string> kOperations = {
    "read_element_a", "read_element_b",  "three_phase_read", "hardware",          "firmware_version",
    "prepay_enabled", "tariffs_active_read", "event_log",    "clock_time_write",  "polyphase_series",
    "prepay_enabled_write", "prepay_balance", "token_push"};

bool is_whole(const Json& v, long long lo, long long hi) {
  if (!v.is_number_integer()) return false;
  long long n = v.get<long long>();
  return n >= lo && n <= hi;
}

// An error text for a bad value, empty when the value is fine.
using Check = std::function<std::string(const Json&)>;

Check text_or_null() {
  return [](const Json& v) { return v.is_string() || v.is_null() ? "" : "must be text or null"; };
}
Check flag() {
  return [](const Json& v) { return v.is_boolean() ? "" : "must be true or false"; };
}
Check number() {
  return [](const Json& v) { return v.is_number() ? "" : "must be a number"; };
}
Check whole(long long lo, long long hi) {
  return [=](const Json& v) {
    return is_whole(v, lo, hi) ? std::string() : fmt::format("must be a whole number from {} to {}", lo, hi);
  };
}
Check anything() {
  return [](const Json&) { return std::string(); };
}
// An object of numbers with only the given keys.
Check totals(std::vector<std::string> keys) {
  return [=](const Json& v) -> std::string {
    if (!v.is_object()) return "must be an object";
    for (auto it = v.begin(); it != v.end(); ++it) {
      if (std::find(keys.begin(), keys.end(), it.key()) == keys.end()) {
        return fmt::format("has unknown field \"{}\" (known: {})", it.key(), fmt::join(keys, ", "));
      }
      if (!it.value().is_number()) return fmt::format("\"{}\" must be a number", it.key());
    }
    return "";
  };
}
Check events() {
  return [](const Json& v) -> std::string {
    if (!v.is_array()) return "must be a list of events";
    for (std::size_t i = 0; i < v.size(); ++i) {
      const Json& e = v[i];
      if (!e.is_object()) return fmt::format("event {} must be an object", i);
      if (!is_whole(e.value("timestamp", Json()), 0, 0xFFFFFFFFLL)) {
        return fmt::format("event {}: \"timestamp\" must be meter epoch seconds (0 to 4294967295)", i);
      }
      for (const char* k : {"event_id", "event_set"}) {
        if (e.contains(k) && !is_whole(e[k], INT32_MIN, INT32_MAX)) {
          return fmt::format("event {}: \"{}\" must be a whole number", i, k);
        }
      }
    }
    return "";
  };
}
Check failure() {
  return [](const Json& v) -> std::string {
    if (!v.is_object()) return "must be an object with \"status\" and optional \"operation\"";
    if (!v.value("status", Json()).is_string() || !kStatusCodes.count(v["status"].get<std::string>())) {
      return "\"status\" must name a gRPC status such as \"UNAVAILABLE\" (OK is not a failure)";
    }
    if (v.contains("operation")) {
      const Json& op = v["operation"];
      if (!op.is_string() ||
          (op != "*" && std::find(kOperations.begin(), kOperations.end(), op.get<std::string>()) == kOperations.end())) {
        return "\"operation\" must be \"*\" or one of: " + fmt::format("{}", fmt::join(kOperations, ", "));
      }
    }
    return "";
  };
}

// Every field a meter may have in the fleet file, with its check.
const std::vector<std::pair<std::string, Check>>& meter_fields() {
  static const std::vector<std::pair<std::string, Check>> fields = {
      {"hardware", text_or_null()},
      {"firmware_version", text_or_null()},
      {"prepay_enabled", flag()},
      {"element_a", totals({"import_active", "export_active"})},
      {"element_b", totals({"import_active", "export_active"})},
      {"three_phase", totals({"active_import", "active_export"})},
      {"tariffs_active", anything()},
      {"events", events()},
      {"balance", number()},
      {"delay_ms", whole(0, 600000)},
      {"polyphase_intervals", whole(0, 10000)},
      {"fail", failure()},
  };
  return fields;
}

// Refuses anything the simulator could not serve, naming the meter and field.
void check_fleet(const Json& doc) {
  if (!doc.is_object()) throw meterops::util::ValueError("fleet file: must be a JSON object with \"meters\"");
  for (auto it = doc.begin(); it != doc.end(); ++it) {
    if (it.key() != "meters") throw meterops::util::ValueError("fleet file: unknown field \"" + it.key() + "\"");
  }
  if (!doc.contains("meters")) return;
  const Json& meters = doc["meters"];
  if (!meters.is_object()) throw meterops::util::ValueError("fleet file: \"meters\" must be an object of serial -> meter");
  for (auto m = meters.begin(); m != meters.end(); ++m) {
    if (!m.value().is_object()) throw meterops::util::ValueError("fleet file: meter " + m.key() + " must be an object");
    for (auto f = m.value().begin(); f != m.value().end(); ++f) {
      const auto& fields = meter_fields();
      auto known = std::find_if(fields.begin(), fields.end(), [&](const auto& p) { return p.first == f.key(); });
      if (known == fields.end()) {
        std::vector<std::string> names;
        for (const auto& p : fields) names.push_back(p.first);
        throw meterops::util::ValueError(fmt::format("fleet file: meter {}: unknown field \"{}\" (known: {})", m.key(),
                                                     f.key(), fmt::join(names, ", ")));
      }
      std::string problem = known->second(f.value());
      if (!problem.empty()) {
        throw meterops::util::ValueError("fleet file: meter " + m.key() + ": \"" + f.key() + "\" " + problem);
      }
    }
  }
}

// The simulated fleet: configured meters, defaults for the rest, and the
// state that writes change.
class Fleet {
 public:
  // `meters` has passed check_fleet.
  Fleet(Json meters, int delay_ms, std::ostream* journal) : meters_(std::move(meters)), delay_ms_(delay_ms), journal_(journal) {}

  const Json& meter(const std::string& serial) const {
    static const Json empty = Json::object();
    auto it = meters_.find(serial);
    return it == meters_.end() ? empty : *it;
  }

  // Runs one call: delay, injected failure, journal line, log line.
  template <class Fn>
  grpc::Status handle(const char* op, const std::string& serial, Json args, Fn&& fn) {
    auto start = std::chrono::steady_clock::now();
    const Json& m = meter(serial);
    int delay = delay_ms_ + m.value("delay_ms", 0);
    if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    grpc::Status status = grpc::Status::OK;
    if (m.contains("fail")) {
      const auto& f = m["fail"];
      std::string fop = f.value("operation", "*");
      if (fop == "*" || fop == op) {
        status = grpc::Status(kStatusCodes.at(f["status"].get<std::string>()), std::string("injected failure of ") + op);
      }
    }
    if (status.ok()) status = fn(m);
    auto end = std::chrono::steady_clock::now();
    Json line = {{"op", op}, {"serial", serial},
                 {"start_ns", std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count()},
                 {"end_ns", std::chrono::duration_cast<std::chrono::nanoseconds>(end.time_since_epoch()).count()},
                 {"ok", status.ok()}};
    if (!status.ok()) line["status"] = meterops::mediator::status_code_name(status.error_code());
    for (auto it = args.begin(); it != args.end(); ++it) line[it.key()] = it.value();
    if (journal_) {
      std::lock_guard lock(journal_mu_);
      *journal_ << line.dump() << "\n";
      journal_->flush();
    }
    // Tokens are credit: they stay out of the log (the journal is a test file).
    meterops::util::Fields fields = {{"op", op}, {"serial", serial}};
    for (auto it = args.begin(); it != args.end(); ++it) {
      if (it.key() != "token") fields[it.key()] = it.value();
    }
    fields["status"] = line.value("status", "OK");
    logger().info("call", fields);
    return status;
  }

  // A configured reading, or a deterministic one derived from the serial.
  double number(const Json& m, const char* group, const char* key, std::uint64_t salt, const std::string& serial,
                double scale = 10.0) const {
    if (m.contains(group) && m[group].contains(key) && m[group][key].is_number()) return m[group][key].get<double>();
    return static_cast<double>((fnv1a(serial) ^ salt) % 1000000) / scale;
  }

  bool prepay_enabled(const std::string& serial) {
    std::lock_guard lock(state_mu_);
    auto it = prepay_.find(serial);
    if (it != prepay_.end()) return it->second;
    const Json& m = meter(serial);
    if (m.contains("prepay_enabled") && m["prepay_enabled"].is_boolean()) return m["prepay_enabled"].get<bool>();
    return fnv1a(serial) % 2 == 0;
  }
  void set_prepay(const std::string& serial, bool on) {
    std::lock_guard lock(state_mu_);
    prepay_[serial] = on;
  }

  std::vector<Json> events(const std::string& serial) const {
    const Json& m = meter(serial);
    std::vector<Json> out;
    if (m.contains("events") && m["events"].is_array()) {
      for (const auto& e : m["events"]) out.push_back(e);
      return out;
    }
    std::uint64_t h = fnv1a(serial);
    std::uint32_t newest = 789000000u + static_cast<std::uint32_t>(h % 100000);
    for (int i = 0; i < 3; ++i) {
      out.push_back({{"timestamp", newest - static_cast<std::uint32_t>(i) * 3600}, {"event_id", 1 + (h >> i) % 20},
                     {"event_set", 1}});
    }
    return out;
  }

 private:
  Json meters_;
  int delay_ms_;
  std::ostream* journal_;
  std::mutex journal_mu_;
  std::mutex state_mu_;
  std::map<std::string, bool> prepay_;
};

class MediatorService final : public v1::Mediator::Service {
 public:
  explicit MediatorService(Fleet& fleet) : fleet_(fleet) {}

  grpc::Status ReadElement(grpc::ServerContext*, const v1::ElementRequest* req, v1::ElementTotals* rep) override {
    std::string e = req->element();
    const char* op = e == "b" ? "read_element_b" : "read_element_a";
    const char* group = e == "b" ? "element_b" : "element_a";
    return fleet_.handle(op, req->serial(), Json::object(), [&](const Json& m) {
      rep->set_import_active(fleet_.number(m, group, "import_active", e == "b" ? 11 : 1, req->serial()));
      rep->set_export_active(fleet_.number(m, group, "export_active", e == "b" ? 12 : 2, req->serial(), 100.0));
      return grpc::Status::OK;
    });
  }
  grpc::Status ThreePhaseRead(grpc::ServerContext*, const v1::ThreePhaseRequest* req, v1::ThreePhaseTotals* rep) override {
    return fleet_.handle("three_phase_read", req->serial(), Json::object(), [&](const Json& m) {
      rep->set_active_import(fleet_.number(m, "three_phase", "active_import", 21, req->serial()));
      rep->set_active_export(fleet_.number(m, "three_phase", "active_export", 22, req->serial(), 100.0));
      return grpc::Status::OK;
    });
  }
  grpc::Status Hardware(grpc::ServerContext*, const v1::SerialRequest* req, v1::TextReply* rep) override {
    return fleet_.handle("hardware", req->serial(), Json::object(), [&](const Json& m) {
      if (!m.contains("hardware")) {
        rep->set_value("P1.ax");
      } else if (m["hardware"].is_string()) {
        rep->set_value(m["hardware"].get<std::string>());
      }
      return grpc::Status::OK;
    });
  }
  grpc::Status FirmwareVersion(grpc::ServerContext*, const v1::SerialRequest* req, v1::TextReply* rep) override {
    return fleet_.handle("firmware_version", req->serial(), Json::object(), [&](const Json& m) {
      if (!m.contains("firmware_version")) {
        rep->set_value(fmt::format("1.{}.{}", fnv1a(req->serial()) % 10, fnv1a(req->serial()) % 7));
      } else if (m["firmware_version"].is_string()) {
        rep->set_value(m["firmware_version"].get<std::string>());
      }
      return grpc::Status::OK;
    });
  }
  grpc::Status PrepayEnabled(grpc::ServerContext*, const v1::SerialRequest* req, v1::FlagReply* rep) override {
    return fleet_.handle("prepay_enabled", req->serial(), Json::object(), [&](const Json&) {
      rep->set_enabled(fleet_.prepay_enabled(req->serial()));
      return grpc::Status::OK;
    });
  }
  grpc::Status TariffsActiveRead(grpc::ServerContext*, const v1::SerialRequest* req, v1::JsonReply* rep) override {
    return fleet_.handle("tariffs_active_read", req->serial(), Json::object(), [&](const Json& m) {
      Json t = m.contains("tariffs_active") ? m["tariffs_active"]
                                             : Json{{"unit_rate", 0.25}, {"standing_charge", 0.45}, {"tariff_id", 1}};
      rep->set_json(t.dump());
      return grpc::Status::OK;
    });
  }
  grpc::Status EventLog(grpc::ServerContext*, const v1::EventLogRequest* req, v1::EventLogReply* rep) override {
    return fleet_.handle("event_log", req->serial(), {{"log_idx", req->log_idx()}}, [&](const Json&) {
      if (req->log_idx() < 0 || req->log_idx() > 9) return grpc::Status(grpc::INVALID_ARGUMENT, "log_idx outside 0-9");
      auto events = fleet_.events(req->serial());
      std::size_t first = static_cast<std::size_t>(req->log_idx()) * 10;
      for (std::size_t i = first; i < events.size() && i < first + 10; ++i) {
        const auto& e = events[i];
        auto* out = rep->add_events();
        out->set_timestamp(e["timestamp"].get<std::uint32_t>());
        out->set_event_id(e.value("event_id", 0));
        out->set_event_set(e.value("event_set", 0));
      }
      return grpc::Status::OK;
    });
  }
  grpc::Status ClockTimeWrite(grpc::ServerContext*, const v1::SerialRequest* req, v1::Empty*) override {
    return fleet_.handle("clock_time_write", req->serial(), Json::object(), [&](const Json&) { return grpc::Status::OK; });
  }
  grpc::Status PolyphaseSeries(grpc::ServerContext*, const v1::PolyphaseRequest* req, v1::PolyphaseReply* rep) override {
    Json args = {{"day", req->day()}};
    if (req->has_start_time()) args["start_time"] = req->start_time();
    if (req->has_end_time()) args["end_time"] = req->end_time();
    return fleet_.handle("polyphase_series", req->serial(), args, [&](const Json& m) {
      namespace codec = meterops::vantor::codec;
      codec::DateTime start, from, to;
      try {
        start = codec::parse_iso(req->day().size() == 10 ? req->day() + "T00:00:00Z" : req->day());
        start = std::chrono::floor<std::chrono::days>(start);
        from = req->has_start_time() ? codec::parse_iso(req->start_time()) : start;
        to = req->has_end_time() ? codec::parse_iso(req->end_time()) : start + std::chrono::days(1);
      } catch (const std::exception& e) {
        return grpc::Status(grpc::INVALID_ARGUMENT, std::string("day, start_time and end_time must be ISO 8601: ") + e.what());
      }
      int count = m.value("polyphase_intervals", 48);
      for (const char* c : {"active_import_l1", "active_import_l2", "active_import_l3"}) rep->add_channels(c);
      std::uint64_t h = fnv1a(req->serial() + req->day());
      for (int i = 0; i < count; ++i) {
        auto t = start + std::chrono::minutes(30 * i);
        if (t < from || t >= to) continue;
        auto* iv = rep->add_intervals();
        iv->set_timestamp(codec::format_iso_utc(t));
        for (int c = 0; c < 3; ++c) iv->add_values(static_cast<double>((h >> c) % 1000 + static_cast<std::uint64_t>(i)) / 10.0);
        iv->set_status(i % 7 == 6 ? 1 : 0);
      }
      return grpc::Status::OK;
    });
  }

 private:
  Fleet& fleet_;
};

class PrepayService final : public v1::Prepay::Service {
 public:
  explicit PrepayService(Fleet& fleet) : fleet_(fleet) {}
  grpc::Status PrepayEnabledWrite(grpc::ServerContext*, const v1::PrepayWriteRequest* req, v1::Empty*) override {
    return fleet_.handle("prepay_enabled_write", req->serial(), {{"enabled", req->enabled()}}, [&](const Json&) {
      fleet_.set_prepay(req->serial(), req->enabled());
      return grpc::Status::OK;
    });
  }
  grpc::Status PrepayBalance(grpc::ServerContext*, const v1::SerialRequest* req, v1::BalanceReply* rep) override {
    return fleet_.handle("prepay_balance", req->serial(), Json::object(), [&](const Json& m) {
      rep->set_balance(m.contains("balance") && m["balance"].is_number()
                           ? m["balance"].get<double>()
                           : static_cast<double>(fnv1a(req->serial()) % 5000) / 100.0);
      return grpc::Status::OK;
    });
  }
  grpc::Status TokenPush(grpc::ServerContext*, const v1::TokenRequest* req, v1::Empty*) override {
    // The journal keeps the token so tests can check what reached the meter;
    // the log line carries only the operation and serial.
    return fleet_.handle("token_push", req->serial(), {{"token", req->token()}},
                         [&](const Json&) { return grpc::Status::OK; });
  }

 private:
  Fleet& fleet_;
};

std::string read_file(const std::string& path, const char* what) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw meterops::util::ValueError(std::string("cannot read ") + what + " " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

struct TlsOptions {
  std::string cert, key, client_ca;
};

// TLS from the options, else from MEDIATOR_SERVER_CERT / MEDIATOR_SERVER_KEY
// (with MEDIATOR_CA_CERT requiring client certificates, as a mediator
// container runs); plaintext when neither names a certificate.
std::shared_ptr<grpc::ServerCredentials> server_credentials(const TlsOptions& o) {
  using meterops::mediator::pem_setting;
  using meterops::util::env_text;
  std::string cert, key, client_ca;
  if (!o.cert.empty() || !o.key.empty() || !o.client_ca.empty()) {
    if (o.cert.empty() || o.key.empty()) throw meterops::util::UsageError("--tls-cert and --tls-key go together");
    cert = pem_setting("--tls-cert", o.cert);
    key = pem_setting("--tls-key", o.key);
    if (!o.client_ca.empty()) client_ca = pem_setting("--tls-client-ca", o.client_ca);
  } else {
    auto c = env_text("MEDIATOR_SERVER_CERT"), k = env_text("MEDIATOR_SERVER_KEY");
    if (!c && !k) return grpc::InsecureServerCredentials();
    if (!c || !k) throw meterops::util::ValueError("MEDIATOR_SERVER_CERT and MEDIATOR_SERVER_KEY go together");
    cert = pem_setting("MEDIATOR_SERVER_CERT", *c);
    key = pem_setting("MEDIATOR_SERVER_KEY", *k);
    if (auto ca = env_text("MEDIATOR_CA_CERT")) client_ca = pem_setting("MEDIATOR_CA_CERT", *ca);
  }
  grpc::SslServerCredentialsOptions opts(client_ca.empty() ? GRPC_SSL_DONT_REQUEST_CLIENT_CERTIFICATE
                                                           : GRPC_SSL_REQUEST_AND_REQUIRE_CLIENT_CERTIFICATE_AND_VERIFY);
  opts.pem_key_cert_pairs.push_back({key, cert});
  opts.pem_root_certs = client_ca;
  logger().info("TLS on", {{"client_certificates", client_ca.empty() ? "not asked" : "required"}});
  return grpc::SslServerCredentials(opts);
}

}  // namespace

int main(int argc, char** argv) {
  // Signals are taken by a watcher thread so shutdown runs outside a handler;
  // blocked before any thread starts (gRPC starts its own), so every thread
  // inherits the mask.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  CLI::App app{"Simulated mediator service for tests, demos and benchmarks."};
  std::string listen = "127.0.0.1:50051", fleet_path, port_file, journal_path;
  TlsOptions tls;
  int delay_ms = 0;
  app.add_option("--listen", listen, "HOST:PORT to listen on (port 0 picks a free port)");
  app.add_option("--fleet", fleet_path, "JSON fleet file");
  app.add_option("--delay-ms", delay_ms, "Delay before every answer, in milliseconds")->check(CLI::Range(0, 600000));
  app.add_option("--port-file", port_file, "Write the bound port here once listening");
  app.add_option("--journal", journal_path, "Append one JSON line per call here");
  app.add_option("--tls-cert", tls.cert, "Server certificate (PEM file) for TLS");
  app.add_option("--tls-key", tls.key, "Server key (PEM file) for TLS");
  app.add_option("--tls-client-ca", tls.client_ca, "Require client certificates signed by this CA (PEM file)");
  return meterops::util::program_main(app, argc, argv, [&] {
    Json meters = Json::object();
    if (!fleet_path.empty()) {
      Json doc = Json::parse(read_file(fleet_path, "fleet file"), nullptr, false);
      if (doc.is_discarded()) throw meterops::util::ValueError("fleet file " + fleet_path + " is not valid JSON");
      check_fleet(doc);
      if (doc.contains("meters")) meters = doc["meters"];
    }
    auto creds = server_credentials(tls);
    std::unique_ptr<std::ofstream> journal;
    if (!journal_path.empty()) {
      journal = std::make_unique<std::ofstream>(journal_path, std::ios::app);
      if (!*journal) throw meterops::util::ValueError("cannot write journal " + journal_path);
    }
    Fleet fleet(meters, delay_ms, journal.get());
    MediatorService mediator(fleet);
    PrepayService prepay(fleet);

    grpc::ServerBuilder builder;
    int port = 0;
    // A port already in use is an error, not a second server sharing it.
    builder.AddChannelArgument(GRPC_ARG_ALLOW_REUSEPORT, 0);
    builder.AddListeningPort(listen, creds, &port);
    builder.RegisterService(&mediator);
    builder.RegisterService(&prepay);
    grpc::ResourceQuota quota("mediator_sim");
    quota.SetMaxThreads(512);
    builder.SetResourceQuota(quota);
    builder.SetSyncServerOption(grpc::ServerBuilder::SyncServerOption::MIN_POLLERS, 4);
    auto server = builder.BuildAndStart();
    if (!server || port == 0) throw meterops::util::GeneralError("cannot listen on " + listen);
    logger().info("mediator_sim listening", {{"port", port}, {"meters", meters.size()}});
    if (!port_file.empty()) {
      std::string tmp = port_file + ".tmp";
      std::ofstream(tmp) << port << "\n";
      if (std::rename(tmp.c_str(), port_file.c_str()) != 0) {
        server->Shutdown();
        throw meterops::util::GeneralError("cannot write the port file " + port_file);
      }
    }
    std::thread watcher([&] {
      int sig = 0;
      sigwait(&set, &sig);
      logger().info("mediator_sim stopping", {{"signal", sig}});
      server->Shutdown(std::chrono::system_clock::now() + std::chrono::seconds(2));
    });
    server->Wait();
    watcher.join();
    logger().info("mediator_sim stopped");
    return 0;
  });
}
