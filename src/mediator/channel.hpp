// The gRPC channel behind the mediator clients: credentials (plaintext, or
// TLS when MEDIATOR_CA_CERT is set), the per-call deadline and the mapping
// of failed calls to MediatorClientException.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <grpcpp/grpcpp.h>

#include "mediator/mediator_client_exception.hpp"
#include "mediator/proto/mediator.grpc.pb.h"

namespace meterops::mediator {

// The call deadline: MEDIATOR_DEADLINE_SECONDS (default 30, fractions
// allowed), read on first use; set_deadline overrides it (tests).
std::chrono::milliseconds call_deadline();
void set_deadline(std::chrono::milliseconds deadline);

// "DEADLINE_EXCEEDED", "UNAVAILABLE", ...
std::string status_code_name(grpc::StatusCode code);

// Channel credentials from MEDIATOR_CA_CERT, MEDIATOR_CLIENT_CERT and
// MEDIATOR_CLIENT_KEY (file paths); plaintext when no CA is set.
std::shared_ptr<grpc::ChannelCredentials> client_credentials();

namespace detail {

struct Channel {
  explicit Channel(const std::string& address);
  std::shared_ptr<grpc::Channel> channel;
  std::unique_ptr<v1::Mediator::Stub> mediator;
  std::unique_ptr<v1::Prepay::Stub> prepay;
};

// Runs one call with a fresh context and the deadline; throws
// MediatorClientException naming the operation and serial on failure.
template <class Fn>
void call(const char* operation, const std::string& serial, Fn&& fn) {
  grpc::ClientContext ctx;
  ctx.set_deadline(std::chrono::system_clock::now() + call_deadline());
  grpc::Status st = fn(ctx);
  if (!st.ok()) {
    std::string code = status_code_name(st.error_code());
    throw MediatorClientException(code, std::string(operation) + " for meter " + serial + " failed (" + code +
                                            "): " + st.error_message());
  }
}

}  // namespace detail

}  // namespace meterops::mediator
