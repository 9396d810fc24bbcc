#include "mediator/validation.hpp"

#include <gtest/gtest.h>

#include "util/errors.hpp"

using namespace meterops;
using meterops::util::Decimal;

namespace {

template <class E, class F>
std::string message_of(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("wrong kind: ") + e.what();
  }
  return "no error";
}

Decimal dec(const char* s) { return Decimal::from_string(s); }

}  // namespace

TEST(Validation, EventLogIndexRange) {
  EXPECT_EQ(mediator::valid_event_log_idx(0), 0);
  EXPECT_EQ(mediator::valid_event_log_idx(9), 9);
  EXPECT_EQ(message_of<util::ValueError>([] { mediator::valid_event_log_idx(-1); }),
            "Invalid log_idx -1. Must be in range 0-9.");
  EXPECT_EQ(message_of<util::ValueError>([] { mediator::valid_event_log_idx(10); }),
            "Invalid log_idx 10. Must be in range 0-9.");
}

TEST(Validation, RateAcceptsUpToOneWithFivePlaces) {
  for (const char* ok : {"1", "1.00000", "0.00001", "-0.5", "0"}) {
    EXPECT_EQ(mediator::valid_rate(dec(ok)).to_string(), dec(ok).to_string()) << ok;
  }
}

TEST(Validation, RateRefusals) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"1.5", "Invalid rate 1.5. Can't be greater than 1 GBP."},
      {"1.000001", "Invalid rate 1.000001. Can't be greater than 1 GBP."},
      {"2", "Invalid rate 2. Can't be greater than 1 GBP."},
      {"1e2", "Invalid rate 1E+2. Can't be greater than 1 GBP."},
      {"0.123456", "Invalid rate 0.123456. Vantor meters can only store up to 5 decimal places."},
      {"0.100000", "Invalid rate 0.100000. Vantor meters can only store up to 5 decimal places."},
      {"0E+6", "Invalid rate 0E+6. Vantor meters can only store up to 5 decimal places."},
      {"-1E+6", "Invalid rate -1E+6. Vantor meters can only store up to 5 decimal places."},
      {"1E-6", "Invalid rate 0.000001. Vantor meters can only store up to 5 decimal places."},
  };
  for (const auto& [in, msg] : cases) {
    EXPECT_EQ(message_of<util::ValueError>([&] { mediator::valid_rate(dec(in)); }), msg) << in;
    EXPECT_EQ(message_of<util::ArgumentTypeError>([&] { mediator::cli_valid_rate(std::string(in)); }), msg) << in;
  }
}

TEST(Validation, CommandLineEventLogIndex) {
  EXPECT_EQ(mediator::cli_valid_event_log_idx(std::string(" 7 ")), 7);
  EXPECT_EQ(mediator::cli_valid_event_log_idx(std::string("+3")), 3);
  const std::vector<std::pair<std::optional<std::string>, const char*>> cases = {
      {std::nullopt, "event log idx cannot be None"},
      {"7.0", "Invalid log_idx 7.0. Should be an int between 0-9."},
      {"seven", "Invalid log_idx seven. Should be an int between 0-9."},
      {"", "Invalid log_idx . Should be an int between 0-9."},
      {"12", "Invalid log_idx 12. Must be in range 0-9."},
      {"012", "Invalid log_idx 12. Must be in range 0-9."},
      {"-1", "Invalid log_idx -1. Must be in range 0-9."},
      {"123456789012345678901234", "Invalid log_idx 123456789012345678901234. Must be in range 0-9."},
  };
  for (const auto& [in, msg] : cases) {
    EXPECT_EQ(message_of<util::ArgumentTypeError>([&] { mediator::cli_valid_event_log_idx(in); }), msg);
  }
}

TEST(Validation, CommandLineDecimalAndRate) {
  EXPECT_EQ(mediator::cli_valid_rate(std::string("0.5")), dec("0.5"));
  EXPECT_EQ(mediator::cli_valid_decimal(std::string(" 12.50 ")).to_string(), "12.50");
  const std::vector<std::pair<std::optional<std::string>, const char*>> cases = {
      {std::nullopt, "rate cannot be None"},
      {"", "Invalid rate . Should be a floating point number."},
      {"abc", "Invalid rate abc. Should be a floating point number."},
      {"Infinity", "Invalid rate Infinity. Should be a floating point number."},
      {"NaN", "Invalid rate NaN. Should be a floating point number."},
  };
  for (const auto& [in, msg] : cases) {
    EXPECT_EQ(message_of<util::ArgumentTypeError>([&] { mediator::cli_valid_decimal(in); }), msg);
    EXPECT_EQ(message_of<util::ArgumentTypeError>([&] { mediator::cli_valid_rate(in); }), msg);
  }
}

TEST(Validation, Switch) {
  for (const char* on : {"on", "ON", "On"}) EXPECT_TRUE(mediator::cli_valid_switch(on));
  for (const char* off : {"off", "OFF"}) EXPECT_FALSE(mediator::cli_valid_switch(off));
  for (const char* bad : {"yes", "1", "on ", " off", ""}) {
    EXPECT_EQ(message_of<util::ArgumentTypeError>([&] { mediator::cli_valid_switch(bad); }),
              "Invalid flag string '" + std::string(bad) + "'. Should be 'on' or 'off'.");
  }
}
