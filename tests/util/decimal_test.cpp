#include "util/decimal.hpp"

#include <limits>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "util/errors.hpp"

using meterops::util::Decimal;

TEST(Decimal, TextFormKeepsTheWrittenExponent) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"0.100000", "0.100000"}, {"1e2", "1E+2"},       {"0E+6", "0E+6"},      {"-0", "-0"},
      {"1E-7", "1E-7"},         {"0.000001", "0.000001"}, {"0.0000001", "1E-7"}, {" 0.50 ", "0.50"},
      {"-1E+6", "-1E+6"},       {"12.3400", "12.3400"},  {"007", "7"},         {".5", "0.5"},
      {"5.", "5"},              {"1.5e-3", "0.0015"},    {"123e-10", "1.23E-8"}, {"+2", "2"},
      {"1.0E+2", "1.0E+2"},     {"100", "100"},          {"0E-8", "0E-8"},      {"-0.00", "-0.00"},
      {"\t1e-0\n", "1"},        {"1e0000000000000000000002", "1E+2"},
      {"1E+999999999999999999", "1E+999999999999999999"},
  };
  for (const auto& [in, out] : cases) {
    auto d = Decimal::parse(in);
    ASSERT_TRUE(d.has_value()) << in;
    EXPECT_EQ(d->to_string(), out) << in;
  }
}

TEST(Decimal, RefusesWhatIsNotAFiniteNumber) {
  for (const char* bad : {"", " ", "abc", "Infinity", "inf", "-Infinity", "NaN", "sNaN", "1e", "1.2.3", "--1", "1 2",
                          "0x10", "e5", ".", "1e+", "1_000", "1E+1000000000000000000"}) {
    EXPECT_FALSE(Decimal::parse(bad).has_value()) << bad;
  }
  EXPECT_THROW(Decimal::from_string("nan"), meterops::util::ValueError);
  EXPECT_THROW(Decimal::from_double(std::numeric_limits<double>::infinity()), meterops::util::ValueError);
  EXPECT_THROW(Decimal::from_double(std::numeric_limits<double>::quiet_NaN()), meterops::util::ValueError);
}

TEST(Decimal, ComparesByValue) {
  auto d = [](const char* s) { return Decimal::from_string(s); };
  // (a, b, sign of a - b)
  const std::vector<std::tuple<const char*, const char*, int>> cases = {
      {"10.1", "10.10", 0},     {"0", "-0.000", 0},       {"0E+6", "0E-8", 0},     {"-1", "0", -1},
      {"-2", "-1.5", -1},       {"0.99999", "1", -1},     {"1.000001", "1.0", 1},  {"1E+2", "99.9999", 1},
      {"1E+2", "100.000", 0},   {"1E-7", "0.000001", -1}, {"-1E-7", "-0", -1},     {"-10", "-9.99", -1},
      {"12345678901234567890123", "12345678901234567890122.9", 1},
      {"1E+999999999999999999", "9E+999999999999999998", 1},
  };
  for (const auto& [a, b, sign] : cases) {
    const auto order = d(a) <=> d(b);
    EXPECT_EQ(order < 0 ? -1 : (order > 0 ? 1 : 0), sign) << a << " vs " << b;
    const auto reverse = d(b) <=> d(a);
    EXPECT_EQ(reverse < 0 ? -1 : (reverse > 0 ? 1 : 0), -sign) << b << " vs " << a;
  }
}

TEST(Decimal, FromDoubleUsesTheShortestText) {
  auto d = [](const char* s) { return Decimal::from_string(s); };
  EXPECT_EQ(Decimal::from_double(10.1), d("10.10"));
  EXPECT_EQ(Decimal::from_double(10.1).to_string(), "10.1");
  EXPECT_EQ(Decimal::from_double(-2.5).to_string(), "-2.5");
  EXPECT_EQ(Decimal::from_double(1e22).to_string(), "1E+22");
  EXPECT_EQ(Decimal::from_double(1e-7).to_string(), "1E-7");
  EXPECT_EQ(Decimal::from_int(-42).to_string(), "-42");
  EXPECT_EQ(Decimal::from_double(0.1 + 0.2).to_string(), "0.30000000000000004");
  EXPECT_EQ(Decimal::from_double(5.0), d("5"));
}
