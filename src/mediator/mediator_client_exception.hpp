// The one error kind of the mediator clients.
#pragma once

#include <string>

#include "util/errors.hpp"

namespace meterops::mediator {

// A failed mediator call. `code_str` is the gRPC status name
// ("DEADLINE_EXCEEDED", "UNAVAILABLE", ...); callers treat the deadline case
// apart from every other code.
class MediatorClientException : public util::Error {
 public:
  MediatorClientException(std::string code_str, const std::string& message)
      : util::Error(message), code_str_(std::move(code_str)) {}
  const char* kind() const noexcept override { return "MediatorClientException"; }
  const std::string& code_str() const { return code_str_; }

 private:
  std::string code_str_;
};

}  // namespace meterops::mediator
