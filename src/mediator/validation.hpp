// Checks on operator-supplied values for mediator commands, in two flavours:
// API checks take typed values and throw util::ValueError; command-line
// converters take the raw option text and throw util::ArgumentTypeError,
// which the option parser reports as a usage error for the option. Every
// message names the refused value as written ("Invalid rate 0.100000. ...").
//
//   valid_rate(Decimal::from_string("0.5"));       // returns 0.5
//   cli_valid_rate(std::string("2"));               // ArgumentTypeError:
//       // "Invalid rate 2. Can't be greater than 1 GBP."
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "util/decimal.hpp"
#include "util/errors.hpp"

namespace meterops::mediator {

// An event-log index, 0 to 9; ValueError "Invalid log_idx <n>. Must be in
// range 0-9." otherwise.
std::int64_t valid_event_log_idx(std::int64_t idx);
// A tariff rate in GBP: at most 1 (no lower bound) and at most 5 decimal
// places as written (the magnitude of the exponent, so 0.100000 and 0E+6
// are refused). The bound is checked first. ValueError otherwise.
util::Decimal valid_rate(const util::Decimal& rate);
// Any decimal, unchanged.
util::Decimal valid_decimal(const util::Decimal& value);

// Integer text (sign, digits, blanks around) checked by valid_event_log_idx.
// None, text that is not an integer, or an index out of range: ArgumentTypeError.
std::int64_t cli_valid_event_log_idx(const std::optional<std::string>& idx);
// Decimal text (sign, digits, optional point, optional exponent, blanks
// around). None or anything else, infinities and NaN included: ArgumentTypeError.
util::Decimal cli_valid_decimal(const std::optional<std::string>& rate);
// cli_valid_decimal, then valid_rate; its refusals as ArgumentTypeError.
util::Decimal cli_valid_rate(const std::optional<std::string>& rate);
// "on" or "off" in any letter case; no trimming.
bool cli_valid_switch(const std::string& bool_str);

// Adds option `name` to `app` whose text goes through `convert` (one of the
// cli_valid_* functions) into `target`. A refused value ends parsing with the
// usage error "argument <name>: <message>" (status 2 through program_main).
//
//   std::optional<util::Decimal> rate;
//   add_converted_option(app, "--rate", rate, cli_valid_rate, "Tariff rate in GBP");
template <class T, class Convert>
CLI::Option* add_converted_option(CLI::App& app, const std::string& name, std::optional<T>& target, Convert convert,
                                  const std::string& help = "") {
  return app.add_option_function<std::string>(
      name,
      [&target, convert, name](const std::string& text) {
        try {
          target = convert(text);
        } catch (const util::ArgumentTypeError& e) {
          throw util::ArgumentTypeError("argument " + name + ": " + e.what());
        }
      },
      help);
}

}  // namespace meterops::mediator
