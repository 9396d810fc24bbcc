// Exact decimal numbers that keep their written form: sign, coefficient
// digits and exponent, as in the General Decimal Arithmetic standard.
// "0.100000" keeps six places; "1e2" is coefficient 1, exponent 2 and prints
// as "1E+2". Only finite numbers: infinities and NaN are refused.
//
//   auto d = util::Decimal::parse(" 0.50 ");   // coefficient 50, exponent -2
//   d->to_string();                            // "0.50"
//   *d == util::Decimal::parse("0.5").value(); // true: compared by value
#pragma once

#include <compare>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace meterops::util {

class Decimal {
 public:
  Decimal() = default;  // 0

  // Optional sign, digits with an optional point, optional exponent (e/E,
  // optional sign, at most 18 significant digits); surrounding blanks
  // ignored. None for anything else, infinities and NaN included.
  static std::optional<Decimal> parse(std::string_view text);
  // Like parse, but ValueError naming the text.
  static Decimal from_string(std::string_view text);
  // The shortest text that reads back as `value` (what a JSON number or a
  // database numeric shows), so 10.1 stays 10.1. ValueError for inf/NaN.
  static Decimal from_double(double value);
  static Decimal from_int(std::int64_t value);

  bool negative() const { return negative_; }
  // The coefficient's digits, without leading zeros ("0" for zero).
  const std::string& coefficient() const { return digits_; }
  std::int64_t exponent() const { return exponent_; }
  bool is_zero() const { return digits_ == "0"; }

  // The standard's to-scientific-string form.
  std::string to_string() const;

  // Numeric comparison: 10.1 == 10.10, -0 == 0. Equal values may still
  // print differently, hence a weak ordering.
  std::weak_ordering operator<=>(const Decimal& other) const;
  bool operator==(const Decimal& other) const { return (*this <=> other) == 0; }

 private:
  bool negative_ = false;
  std::string digits_ = "0";
  std::int64_t exponent_ = 0;
};

// Writes to_string().
std::ostream& operator<<(std::ostream& os, const Decimal& d);

}  // namespace meterops::util
