#include "util/decimal.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <ostream>

#include "util/errors.hpp"

namespace meterops::util {

namespace {

bool is_blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The largest written exponent taken (the standard's usual 64-bit limit);
// beyond it the arithmetic on exponents could overflow, so such text is
// refused as not a number.
constexpr std::int64_t kMaxExponent = 999'999'999'999'999'999LL;

}  // namespace

std::optional<Decimal> Decimal::parse(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  std::size_t i = 0;
  Decimal d;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) d.negative_ = s[i++] == '-';
  std::string digits;
  std::size_t int_digits = 0, frac_digits = 0;
  while (i < s.size() && is_digit(s[i])) {
    digits += s[i++];
    ++int_digits;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && is_digit(s[i])) {
      digits += s[i++];
      ++frac_digits;
    }
  }
  if (int_digits + frac_digits == 0) return std::nullopt;
  std::int64_t exp = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    std::size_t start = i;
    while (i < s.size() && is_digit(s[i])) {
      const int digit = s[i++] - '0';
      if (exp > (kMaxExponent - digit) / 10) return std::nullopt;
      exp = exp * 10 + digit;
    }
    if (i == start) return std::nullopt;
    if (neg) exp = -exp;
  }
  if (i != s.size()) return std::nullopt;
  std::size_t first = digits.find_first_not_of('0');
  d.digits_ = first == std::string::npos ? "0" : digits.substr(first);
  d.exponent_ = exp - static_cast<std::int64_t>(frac_digits);
  return d;
}

Decimal Decimal::from_string(std::string_view text) {
  auto d = parse(text);
  if (!d) throw ValueError("not a decimal number: '" + std::string(text) + "'");
  return *d;
}

Decimal Decimal::from_double(double value) {
  if (!std::isfinite(value)) throw ValueError("not a finite number");
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return from_string(std::string_view(buf, static_cast<std::size_t>(end - buf)));
}

Decimal Decimal::from_int(std::int64_t value) { return from_string(std::to_string(value)); }

std::string Decimal::to_string() const {
  const std::int64_t n = static_cast<std::int64_t>(digits_.size());
  const std::int64_t adjusted = exponent_ + n - 1;
  std::string out = negative_ ? "-" : "";
  if (exponent_ <= 0 && adjusted >= -6) {
    if (exponent_ == 0) return out + digits_;
    std::int64_t point = n + exponent_;  // digits before the point
    if (point > 0) return out + digits_.substr(0, point) + "." + digits_.substr(point);
    return out + "0." + std::string(static_cast<std::size_t>(-point), '0') + digits_;
  }
  out += digits_.substr(0, 1);
  if (n > 1) out += "." + digits_.substr(1);
  out += "E";
  out += adjusted >= 0 ? "+" : "-";
  out += std::to_string(adjusted >= 0 ? adjusted : -adjusted);
  return out;
}

std::weak_ordering Decimal::operator<=>(const Decimal& o) const {
  using std::weak_ordering;
  if (is_zero() && o.is_zero()) return weak_ordering::equivalent;
  bool neg_a = negative_ && !is_zero();
  bool neg_b = o.negative_ && !o.is_zero();
  if (is_zero()) return neg_b ? weak_ordering::greater : weak_ordering::less;
  if (o.is_zero()) return neg_a ? weak_ordering::less : weak_ordering::greater;
  if (neg_a != neg_b) return neg_a ? weak_ordering::less : weak_ordering::greater;
  // Same sign, both non-zero: compare magnitudes, then flip for negatives.
  std::int64_t adj_a = exponent_ + static_cast<std::int64_t>(digits_.size());
  std::int64_t adj_b = o.exponent_ + static_cast<std::int64_t>(o.digits_.size());
  weak_ordering mag = weak_ordering::equivalent;
  if (adj_a != adj_b) {
    mag = adj_a <=> adj_b;
  } else {
    std::size_t len = std::max(digits_.size(), o.digits_.size());
    std::string a = digits_ + std::string(len - digits_.size(), '0');
    std::string b = o.digits_ + std::string(len - o.digits_.size(), '0');
    int c = a.compare(b);
    mag = c < 0 ? weak_ordering::less : (c > 0 ? weak_ordering::greater : weak_ordering::equivalent);
  }
  return neg_a ? 0 <=> mag : mag;
}

std::ostream& operator<<(std::ostream& os, const Decimal& d) { return os << d.to_string(); }

}  // namespace meterops::util
