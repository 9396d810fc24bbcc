#include "mediator/validation.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "util/errors.hpp"

namespace meterops::mediator {

namespace {

std::string range_message(const std::string& idx_text) {
  return "Invalid log_idx " + idx_text + ". Must be in range 0-9.";
}

// Integer text: optional sign, decimal digits, blanks around. Returns the
// value's canonical text (sign, no leading zeros), so numbers beyond 64 bits
// still get an exact message.
std::optional<std::string> canonical_int(const std::string& text) {
  std::size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  bool neg = false;
  if (b < e && (text[b] == '+' || text[b] == '-')) neg = text[b++] == '-';
  if (b == e) return std::nullopt;
  for (std::size_t i = b; i < e; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
  }
  std::size_t first = text.find_first_not_of('0', b);
  std::string digits = (first == std::string::npos || first >= e) ? "0" : text.substr(first, e - first);
  return (neg && digits != "0" ? "-" : "") + digits;
}

}  // namespace

std::int64_t valid_event_log_idx(std::int64_t idx) {
  if (idx < 0 || idx > 9) throw util::ValueError(range_message(std::to_string(idx)));
  return idx;
}

util::Decimal valid_rate(const util::Decimal& rate) {
  static const util::Decimal one = util::Decimal::from_string("1.0");
  if (rate > one) {
    throw util::ValueError("Invalid rate " + rate.to_string() + ". Can't be greater than 1 GBP.");
  }
  std::int64_t places = rate.exponent() < 0 ? -rate.exponent() : rate.exponent();
  if (places > 5) {
    throw util::ValueError("Invalid rate " + rate.to_string() + ". Vantor meters can only store up to 5 decimal places.");
  }
  return rate;
}

util::Decimal valid_decimal(const util::Decimal& value) { return value; }

std::int64_t cli_valid_event_log_idx(const std::optional<std::string>& idx) {
  if (!idx) throw util::ArgumentTypeError("event log idx cannot be None");
  auto canon = canonical_int(*idx);
  if (!canon) throw util::ArgumentTypeError("Invalid log_idx " + *idx + ". Should be an int between 0-9.");
  // Anything longer than two characters is out of range whatever its size.
  if (canon->size() > 2) throw util::ArgumentTypeError(range_message(*canon));
  try {
    return valid_event_log_idx(std::strtoll(canon->c_str(), nullptr, 10));
  } catch (const util::ValueError& e) {
    throw util::ArgumentTypeError(e.what());
  }
}

util::Decimal cli_valid_decimal(const std::optional<std::string>& rate) {
  if (!rate) throw util::ArgumentTypeError("rate cannot be None");
  auto d = util::Decimal::parse(*rate);
  if (!d) throw util::ArgumentTypeError("Invalid rate " + *rate + ". Should be a floating point number.");
  return valid_decimal(*d);
}

util::Decimal cli_valid_rate(const std::optional<std::string>& rate) {
  util::Decimal d = cli_valid_decimal(rate);
  try {
    return valid_rate(d);
  } catch (const util::ArgumentTypeError&) {
    throw;
  } catch (const util::ValueError& e) {
    throw util::ArgumentTypeError(e.what());
  }
}

bool cli_valid_switch(const std::string& bool_str) {
  std::string lower = bool_str;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  if (lower == "on") return true;
  if (lower == "off") return false;
  throw util::ArgumentTypeError("Invalid flag string '" + bool_str + "'. Should be 'on' or 'off'.");
}

}  // namespace meterops::mediator
