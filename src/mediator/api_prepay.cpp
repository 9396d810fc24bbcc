#include "mediator/api_prepay.hpp"

#include "mediator/channel.hpp"

namespace meterops::mediator {

VantorPrepayAPI::VantorPrepayAPI(const std::string& mediator_address, std::optional<util::Level> logging_level)
    : address_(mediator_address), channel_(std::make_unique<detail::Channel>(mediator_address, logging_level)) {}
VantorPrepayAPI::~VantorPrepayAPI() = default;
VantorPrepayAPI::VantorPrepayAPI(VantorPrepayAPI&&) noexcept = default;
VantorPrepayAPI& VantorPrepayAPI::operator=(VantorPrepayAPI&&) noexcept = default;

void VantorPrepayAPI::prepay_enabled_write(const std::string& serial, bool enabled) {
  v1::PrepayWriteRequest req;
  req.set_serial(serial);
  req.set_enabled(enabled);
  v1::Empty rep;
  channel_->call("prepay_enabled_write", serial,
               [&](grpc::ClientContext& ctx) { return channel_->prepay->PrepayEnabledWrite(&ctx, req, &rep); });
}

double VantorPrepayAPI::prepay_balance(const std::string& serial) {
  v1::SerialRequest req;
  req.set_serial(serial);
  v1::BalanceReply rep;
  channel_->call("prepay_balance", serial,
               [&](grpc::ClientContext& ctx) { return channel_->prepay->PrepayBalance(&ctx, req, &rep); });
  return rep.balance();
}

void VantorPrepayAPI::token_push(const std::string& serial, const std::string& token) {
  v1::TokenRequest req;
  req.set_serial(serial);
  req.set_token(token);
  v1::Empty rep;
  channel_->call("token_push", serial, [&](grpc::ClientContext& ctx) { return channel_->prepay->TokenPush(&ctx, req, &rep); });
}

}  // namespace meterops::mediator
