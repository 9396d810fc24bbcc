// The gRPC channel behind the mediator clients: the address check,
// credentials (plaintext, or TLS when certificates are configured), the
// per-call deadline and the mapping of failed calls to
// MediatorClientException.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include <grpcpp/grpcpp.h>

#include "mediator/mediator_client_exception.hpp"
#include "mediator/proto/mediator.grpc.pb.h"
#include "util/logging.hpp"

namespace meterops::mediator {

// The call deadline: MEDIATOR_DEADLINE_SECONDS (default 30, fractions
// allowed), read once per process on first use; set_deadline overrides it
// (tests, benchmarks).
std::chrono::milliseconds call_deadline();
void set_deadline(std::chrono::milliseconds deadline);

// Reads MEDIATOR_DEADLINE_SECONDS now: above 0 and at most a day; anything
// else is a util::ValueError naming the variable.
std::chrono::milliseconds read_deadline_setting();

// "DEADLINE_EXCEEDED", "UNAVAILABLE", ...
std::string status_code_name(grpc::StatusCode code);

// Checks "host:port" (port 1 to 65535); util::ValueError otherwise.
void check_address(const std::string& address);

// A certificate setting's PEM text: the value itself when it is PEM text,
// otherwise the file it names. util::ValueError naming the variable (never
// the contents) when the file cannot be read or holds no PEM block.
std::string pem_setting(const char* variable, const std::string& value);

// Channel credentials from MEDIATOR_CA_CERT (trusted roots; the system's
// when unset) and MEDIATOR_CLIENT_CERT + MEDIATOR_CLIENT_KEY (mutual TLS).
// Plaintext when none of the three is set; one of the client pair without
// the other is a util::ValueError.
std::shared_ptr<grpc::ChannelCredentials> client_credentials();

namespace detail {

struct Channel {
  Channel(const std::string& address, std::optional<util::Level> logging_level);

  // Runs one call with a fresh context and the deadline; throws
  // MediatorClientException naming the operation and serial on failure.
  template <class Fn>
  void call(const char* operation, const std::string& serial, Fn&& fn) {
    grpc::ClientContext ctx;
    auto start = std::chrono::steady_clock::now();
    ctx.set_deadline(std::chrono::system_clock::now() + call_deadline());
    grpc::Status st = fn(ctx);
    finish(operation, serial, st, std::chrono::steady_clock::now() - start);
  }

  std::string address;
  std::optional<util::Level> logging_level;
  std::shared_ptr<grpc::Channel> channel;
  std::unique_ptr<v1::Mediator::Stub> mediator;
  std::unique_ptr<v1::Prepay::Stub> prepay;

 private:
  void finish(const char* operation, const std::string& serial, const grpc::Status& st,
              std::chrono::steady_clock::duration elapsed) const;
};

}  // namespace detail

}  // namespace meterops::mediator
