// Checks on operator-supplied values for mediator commands, in two flavours:
// API checks take typed values and throw util::ValueError; command-line
// converters take the raw option text and throw util::ArgumentTypeError,
// which the option parser reports as a usage error for the option.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "util/decimal.hpp"

namespace meterops::mediator {

// An event-log index, 0 to 9.
std::int64_t valid_event_log_idx(std::int64_t idx);
// A tariff rate in GBP: at most 1, at most 5 decimal places as written.
util::Decimal valid_rate(const util::Decimal& rate);
// Any decimal.
util::Decimal valid_decimal(const util::Decimal& value);

std::int64_t cli_valid_event_log_idx(const std::optional<std::string>& idx);
util::Decimal cli_valid_decimal(const std::optional<std::string>& rate);
util::Decimal cli_valid_rate(const std::optional<std::string>& rate);
// "on" or "off" in any letter case; no trimming.
bool cli_valid_switch(const std::string& bool_str);

}  // namespace meterops::mediator
