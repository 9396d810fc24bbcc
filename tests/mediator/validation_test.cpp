#include "mediator/validation.hpp"

#include <iostream>
#include <sstream>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "util/errors.hpp"
#include "util/program.hpp"

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
  for (const char* ok : {"1", "1.00000", "0.00001", "-0.5", "0", "0E+5", "-1E+5", "-123456789.12345", " 1 "}) {
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
      {"1E-7", "Invalid rate 1E-7. Vantor meters can only store up to 5 decimal places."},
      {"-0.000000", "Invalid rate -0.000000. Vantor meters can only store up to 5 decimal places."},
      {"1.0000001", "Invalid rate 1.0000001. Can't be greater than 1 GBP."},  // both rules broken: bound first
      {"5E+6", "Invalid rate 5E+6. Can't be greater than 1 GBP."},
  };
  for (const auto& [in, msg] : cases) {
    EXPECT_EQ(message_of<util::ValueError>([&] { mediator::valid_rate(dec(in)); }), msg) << in;
    EXPECT_EQ(message_of<util::ArgumentTypeError>([&] { mediator::cli_valid_rate(std::string(in)); }), msg) << in;
  }
}

TEST(Validation, CommandLineEventLogIndex) {
  EXPECT_EQ(mediator::cli_valid_event_log_idx(std::string(" 7 ")), 7);
  EXPECT_EQ(mediator::cli_valid_event_log_idx(std::string("+3")), 3);
  EXPECT_EQ(mediator::cli_valid_event_log_idx(std::string("\t09\n")), 9);
  EXPECT_EQ(mediator::cli_valid_event_log_idx(std::string("-0")), 0);
  const std::vector<std::pair<std::optional<std::string>, const char*>> cases = {
      {std::nullopt, "event log idx cannot be None"},
      {"7.0", "Invalid log_idx 7.0. Should be an int between 0-9."},
      {"seven", "Invalid log_idx seven. Should be an int between 0-9."},
      {"", "Invalid log_idx . Should be an int between 0-9."},
      {"12", "Invalid log_idx 12. Must be in range 0-9."},
      {"012", "Invalid log_idx 12. Must be in range 0-9."},
      {"-1", "Invalid log_idx -1. Must be in range 0-9."},
      {"-0010", "Invalid log_idx -10. Must be in range 0-9."},
      {"1_0", "Invalid log_idx 1_0. Should be an int between 0-9."},
      {"0x9", "Invalid log_idx 0x9. Should be an int between 0-9."},
      {"+", "Invalid log_idx +. Should be an int between 0-9."},
      {"1 2", "Invalid log_idx 1 2. Should be an int between 0-9."},
      {"123456789012345678901234", "Invalid log_idx 123456789012345678901234. Must be in range 0-9."},
  };
  for (const auto& [in, msg] : cases) {
    EXPECT_EQ(message_of<util::ArgumentTypeError>([&] { mediator::cli_valid_event_log_idx(in); }), msg);
  }
}

TEST(Validation, CommandLineDecimalAndRate) {
  EXPECT_EQ(mediator::cli_valid_rate(std::string("0.5")), dec("0.5"));
  EXPECT_EQ(mediator::cli_valid_decimal(std::string(" 12.50 ")).to_string(), "12.50");
  EXPECT_EQ(mediator::cli_valid_decimal(std::string("-7e999")).to_string(), "-7E+999");  // unrestricted
  const std::vector<std::pair<std::optional<std::string>, const char*>> cases = {
      {std::nullopt, "rate cannot be None"},
      {"", "Invalid rate . Should be a floating point number."},
      {"abc", "Invalid rate abc. Should be a floating point number."},
      {"Infinity", "Invalid rate Infinity. Should be a floating point number."},
      {"NaN", "Invalid rate NaN. Should be a floating point number."},
      {"-inf", "Invalid rate -inf. Should be a floating point number."},
      {"+", "Invalid rate +. Should be a floating point number."},
      {"0,5", "Invalid rate 0,5. Should be a floating point number."},
      {"1e1000000000000000000", "Invalid rate 1e1000000000000000000. Should be a floating point number."},
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

namespace {

struct ProgramRun {
  int status;
  std::string err;
};

// Parses `args` with one converted option of each kind, through the same
// wrapper every program uses.
ProgramRun run_with(std::vector<std::string> args) {
  CLI::App app{"mediator command"};
  app.name("mediator");
  std::optional<std::int64_t> idx;
  std::optional<Decimal> rate;
  std::optional<bool> flag;
  mediator::add_converted_option(app, "--log-idx", idx, mediator::cli_valid_event_log_idx, "Event log index");
  mediator::add_converted_option(app, "--rate", rate, mediator::cli_valid_rate, "Rate in GBP");
  mediator::add_converted_option(app, "--switch", flag, mediator::cli_valid_switch, "on or off");
  args.insert(args.begin(), "mediator");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::ostringstream err;
  auto* old = std::cerr.rdbuf(err.rdbuf());
  int status = util::program_main(app, static_cast<int>(argv.size()), argv.data(), [&] {
    std::cerr << "idx=" << (idx ? std::to_string(*idx) : "none") << " rate=" << (rate ? rate->to_string() : "none")
              << " switch=" << (flag ? (*flag ? "true" : "false") : "none");
    return 0;
  });
  std::cerr.rdbuf(old);
  return {status, err.str()};
}

}  // namespace

TEST(Validation, ConvertersAsCommandLineOptions) {
  // (arguments, exit status, what standard error ends with)
  const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
      {{"--log-idx", "3", "--rate", "0.12500", "--switch", "OFF"}, 0, "idx=3 rate=0.12500 switch=false"},
      {{}, 0, "idx=none rate=none switch=none"},
      {{"--rate", "0.100000"},
       2,
       "mediator: error: argument --rate: Invalid rate 0.100000. Vantor meters can only store up to 5 decimal "
       "places.\n"},
      {{"--rate", "abc"}, 2, "mediator: error: argument --rate: Invalid rate abc. Should be a floating point number.\n"},
      {{"--log-idx", "012"}, 2, "mediator: error: argument --log-idx: Invalid log_idx 12. Must be in range 0-9.\n"},
      {{"--switch", "yes"}, 2, "mediator: error: argument --switch: Invalid flag string 'yes'. Should be 'on' or 'off'.\n"},
  };
  for (const auto& [args, status, tail] : cases) {
    auto run = run_with(args);
    EXPECT_EQ(run.status, status) << run.err;
    ASSERT_GE(run.err.size(), tail.size()) << run.err;
    EXPECT_EQ(run.err.substr(run.err.size() - tail.size()), tail);
    if (status == 2) EXPECT_EQ(run.err.rfind("usage: mediator", 0), 0u) << run.err;
  }
}
