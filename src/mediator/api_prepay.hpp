// Client of the mediator service for prepayment operations of one meter.
// Same construction (address check, TLS settings, logging level), deadlines
// and errors as VantorMediatorAPI.
//
//   mediator::VantorPrepayAPI p("127.0.0.1:50051");
//   if (p.prepay_balance(serial) < minimum) ...
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "mediator/mediator_client_exception.hpp"
#include "util/logging.hpp"

namespace meterops::mediator {

namespace detail {
struct Channel;
}

class VantorPrepayAPI {
 public:
  explicit VantorPrepayAPI(const std::string& mediator_address,
                           std::optional<util::Level> logging_level = std::nullopt);
  ~VantorPrepayAPI();
  VantorPrepayAPI(VantorPrepayAPI&&) noexcept;
  VantorPrepayAPI& operator=(VantorPrepayAPI&&) noexcept;

  // Switches prepayment mode on or off; returns once the meter took it.
  void prepay_enabled_write(const std::string& serial, bool enabled);
  // The meter's current credit balance.
  double prepay_balance(const std::string& serial);
  // Enters a top-up token into the meter. The token is never logged.
  void token_push(const std::string& serial, const std::string& token);

  const std::string& mediator_address() const { return address_; }

 private:
  std::string address_;
  std::unique_ptr<detail::Channel> channel_;
};

}  // namespace meterops::mediator
