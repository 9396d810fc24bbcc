#include "mediator/channel.hpp"

#include <atomic>
#include <fstream>
#include <sstream>

#include "util/errors.hpp"
#include "util/settings.hpp"

namespace meterops::mediator {

namespace {

std::atomic<long long>& deadline_ms() {
  static std::atomic<long long> v{-1};
  return v;
}

std::string read_pem(const char* variable, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw util::ValueError(std::string(variable) + ": cannot read " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

std::chrono::milliseconds call_deadline() {
  auto& v = deadline_ms();
  if (v.load() < 0) {
    double seconds = util::env_double("MEDIATOR_DEADLINE_SECONDS", 30);
    if (seconds <= 0) throw util::ValueError("MEDIATOR_DEADLINE_SECONDS must be above 0");
    v = static_cast<long long>(seconds * 1000);
  }
  return std::chrono::milliseconds(v.load());
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

std::shared_ptr<grpc::ChannelCredentials> client_credentials() {
  auto ca = util::env_text("MEDIATOR_CA_CERT");
  if (!ca) return grpc::InsecureChannelCredentials();
  grpc::SslCredentialsOptions opts;
  opts.pem_root_certs = read_pem("MEDIATOR_CA_CERT", *ca);
  auto cert = util::env_text("MEDIATOR_CLIENT_CERT");
  auto key = util::env_text("MEDIATOR_CLIENT_KEY");
  if (cert && key) {
    opts.pem_cert_chain = read_pem("MEDIATOR_CLIENT_CERT", *cert);
    opts.pem_private_key = read_pem("MEDIATOR_CLIENT_KEY", *key);
  }
  return grpc::SslCredentials(opts);
}

namespace detail {

Channel::Channel(const std::string& address) {
  if (address.empty() || address.find(':') == std::string::npos) {
    throw util::ValueError("mediator address must be host:port, got '" + address + "'");
  }
  grpc::ChannelArguments args;
  args.SetInt(GRPC_ARG_ENABLE_RETRIES, 0);  // nothing in the system retries mediator calls
  channel = grpc::CreateCustomChannel(address, client_credentials(), args);
  mediator = v1::Mediator::NewStub(channel);
  prepay = v1::Prepay::NewStub(channel);
}

}  // namespace detail

}  // namespace meterops::mediator
