#include "mediator/channel.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

#include "util/errors.hpp"
#include "util/settings.hpp"

namespace meterops::mediator {

namespace {

const util::Logger& logger() {
  static const util::Logger log = util::get_logger("mediator.channel", __FILE__);
  return log;
}

// -1 until first read.
std::atomic<long long>& deadline_ms() {
  static std::atomic<long long> v{-1};
  return v;
}

constexpr double kMaxDeadlineSeconds = 86400;

}  // namespace

std::chrono::milliseconds read_deadline_setting() {
  double seconds = util::env_double("MEDIATOR_DEADLINE_SECONDS", 30);
  if (!(seconds > 0) || seconds > kMaxDeadlineSeconds) {
    throw util::ValueError("MEDIATOR_DEADLINE_SECONDS must be above 0 and at most 86400 seconds, got " +
                           util::env_text_or("MEDIATOR_DEADLINE_SECONDS", ""));
  }
  // At least a millisecond, so a tiny fraction never means "no time at all".
  return std::chrono::milliseconds(std::max<long long>(1, std::llround(seconds * 1000)));
}

std::chrono::milliseconds call_deadline() {
  auto& v = deadline_ms();
  long long ms = v.load();
  if (ms < 0) {
    ms = read_deadline_setting().count();
    long long unset = -1;
    // The first reader wins; an override made meanwhile is kept.
    if (!v.compare_exchange_strong(unset, ms)) ms = v.load();
  }
  return std::chrono::milliseconds(ms);
}

void set_deadline(std::chrono::milliseconds d) { deadline_ms() = d.count(); }

std::string status_code_name(grpc::StatusCode code) {
  static const char* const names[] = {"OK",
                                      "CANCELLED",
                                      "UNKNOWN",
                                      "INVALID_ARGUMENT",
                                      "DEADLINE_EXCEEDED",
                                      "NOT_FOUND",
                                      "ALREADY_EXISTS",
                                      "PERMISSION_DENIED",
                                      "RESOURCE_EXHAUSTED",
                                      "FAILED_PRECONDITION",
                                      "ABORTED",
                                      "OUT_OF_RANGE",
                                      "UNIMPLEMENTED",
                                      "INTERNAL",
                                      "UNAVAILABLE",
                                      "DATA_LOSS",
                                      "UNAUTHENTICATED"};
  auto i = static_cast<int>(code);
  return i >= 0 && i < 17 ? names[i] : "UNKNOWN";
}

void check_address(const std::string& address) {
  auto bad = [&] { return util::ValueError("mediator address must be host:port, got '" + address + "'"); };
  auto colon = address.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == address.size()) throw bad();
  for (char c : address) {
    if (std::isspace(static_cast<unsigned char>(c)) || c == '/') throw bad();
  }
  const char* b = address.data() + colon + 1;
  const char* e = address.data() + address.size();
  int port = 0;
  auto [ptr, ec] = std::from_chars(b, e, port);
  if (ec != std::errc() || ptr != e || port < 1 || port > 65535) throw bad();
}

std::string pem_setting(const char* variable, const std::string& value) {
  std::string text;
  if (value.find("-----BEGIN ") != std::string::npos) {
    text = value;
  } else {
    std::ifstream in(value, std::ios::binary);
    if (!in) throw util::ValueError(std::string(variable) + ": cannot read the file " + value);
    std::ostringstream ss;
    ss << in.rdbuf();
    text = ss.str();
    if (text.find("-----BEGIN ") == std::string::npos) {
      throw util::ValueError(std::string(variable) + ": " + value + " holds no PEM block");
    }
  }
  return text;
}

std::shared_ptr<grpc::ChannelCredentials> client_credentials() {
  auto ca = util::env_text("MEDIATOR_CA_CERT");
  auto cert = util::env_text("MEDIATOR_CLIENT_CERT");
  auto key = util::env_text("MEDIATOR_CLIENT_KEY");
  if (!ca && !cert && !key) return grpc::InsecureChannelCredentials();
  if (cert.has_value() != key.has_value()) {
    throw util::ValueError(cert ? "MEDIATOR_CLIENT_CERT is set but MEDIATOR_CLIENT_KEY is not"
                                : "MEDIATOR_CLIENT_KEY is set but MEDIATOR_CLIENT_CERT is not");
  }
  grpc::SslCredentialsOptions opts;
  if (ca) opts.pem_root_certs = pem_setting("MEDIATOR_CA_CERT", *ca);
  if (cert) {
    opts.pem_cert_chain = pem_setting("MEDIATOR_CLIENT_CERT", *cert);
    opts.pem_private_key = pem_setting("MEDIATOR_CLIENT_KEY", *key);
  }
  return grpc::SslCredentials(opts);
}

namespace detail {

Channel::Channel(const std::string& addr, std::optional<util::Level> level) : address(addr), logging_level(level) {
  check_address(address);
  grpc::ChannelArguments args;
  args.SetInt(GRPC_ARG_ENABLE_RETRIES, 0);  // nothing in the system retries mediator calls
  channel = grpc::CreateCustomChannel(address, client_credentials(), args);
  mediator = v1::Mediator::NewStub(channel);
  prepay = v1::Prepay::NewStub(channel);
}

void Channel::finish(const char* operation, const std::string& serial, const grpc::Status& st,
                     std::chrono::steady_clock::duration elapsed) const {
  std::string code = status_code_name(st.error_code());
  // The client's own level hides its per-call lines when the caller asks for less detail.
  if ((!logging_level || *logging_level <= util::Level::debug) && logger().enabled(util::Level::debug)) {
    logger().debug("mediator call", {{"operation", operation},
                                     {"serial", serial},
                                     {"mediator_address", address},
                                     {"status", code},
                                     {"elapsed_ms", std::chrono::duration<double, std::milli>(elapsed).count()}});
  }
  if (!st.ok()) {
    std::string message = std::string(operation) + " for meter " + serial + " failed (" + code + ")";
    if (!st.error_message().empty()) message += ": " + st.error_message();
    throw MediatorClientException(code, message);
  }
}

}  // namespace detail

}  // namespace meterops::mediator
