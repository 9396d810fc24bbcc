#include "util/decimal.hpp"

#include <gtest/gtest.h>

#include "util/errors.hpp"

using meterops::util::Decimal;

TEST(Decimal, TextFormKeepsTheWrittenExponent) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"0.100000", "0.100000"}, {"1e2", "1E+2"},       {"0E+6", "0E+6"},      {"-0", "-0"},
      {"1E-7", "1E-7"},         {"0.000001", "0.000001"}, {"0.0000001", "1E-7"}, {" 0.50 ", "0.50"},
      {"-1E+6", "-1E+6"},       {"12.3400", "12.3400"},  {"007", "7"},         {".5", "0.5"},
      {"5.", "5"},              {"1.5e-3", "0.0015"},    {"123e-10", "1.23E-8"}, {"+2", "2"},
  };
  for (const auto& [in, out] : cases) {
    auto d = Decimal::parse(in);
    ASSERT_TRUE(d.has_value()) << in;
    EXPECT_EQ(d->to_string(), out) << in;
  }
}

TEST(Decimal, RefusesWhatIsNotAFiniteNumber) {
  for (const char* bad : {"", " ", "abc", "Infinity", "inf", "NaN", "1e", "1.2.3", "--1", "1 2", "0x10", "e5", "."}) {
    EXPECT_FALSE(Decimal::parse(bad).has_value()) << bad;
  }
  EXPECT_THROW(Decimal::from_string("nan"), meterops::util::ValueError);
}

TEST(Decimal, ComparesByValue) {
  auto d = [](const char* s) { return Decimal::from_string(s); };
  EXPECT_EQ(d("10.1"), d("10.10"));
  EXPECT_EQ(d("0"), d("-0.000"));
  EXPECT_LT(d("-1"), d("0"));
  EXPECT_LT(d("-2"), d("-1.5"));
  EXPECT_LT(d("0.99999"), d("1"));
  EXPECT_GT(d("1.000001"), d("1.0"));
  EXPECT_GT(d("1E+2"), d("99.9999"));
  EXPECT_LT(d("1E-7"), d("0.000001"));
  EXPECT_EQ(Decimal::from_double(10.1), d("10.10"));
  EXPECT_EQ(Decimal::from_double(0.1 + 0.2).to_string(), "0.30000000000000004");
  EXPECT_EQ(Decimal::from_double(5.0), d("5"));
}
