#include "util/settings.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "util/errors.hpp"

namespace meterops::util {

namespace {
std::string trim(std::string s) {
  auto not_space = [](unsigned char c) { return !std::isspace(c); };
  s.erase(s.begin(), std::find_if(s.begin(), s.end(), not_space));
  s.erase(std::find_if(s.rbegin(), s.rend(), not_space).base(), s.end());
  return s;
}
}  // namespace

std::optional<std::string> env_text(const char* name) {
  const char* v = std::getenv(name);
  if (!v || !*v) return std::nullopt;
  return std::string(v);
}

std::string env_text_or(const char* name, const std::string& fallback) {
  return env_text(name).value_or(fallback);
}

int64_t env_int(const char* name, int64_t fallback) {
  auto raw = env_text(name);
  if (!raw) return fallback;
  std::string v = trim(*raw);
  const char* b = v.data();
  const char* e = v.data() + v.size();
  if (b != e && *b == '+') ++b;
  int64_t out = 0;
  auto [ptr, ec] = std::from_chars(b, e, out);
  if (v.empty() || ec != std::errc() || ptr != e) {
    throw ValueError(std::string(name) + " must be a whole number, got '" + *raw + "'");
  }
  return out;
}

int64_t env_int_at_least(const char* name, int64_t fallback, int64_t min_value) {
  int64_t v = env_int(name, fallback);
  if (v < min_value) {
    throw ValueError(std::string(name) + " must be at least " + std::to_string(min_value) + ", got " +
                     std::to_string(v));
  }
  return v;
}

double env_double(const char* name, double fallback) {
  auto raw = env_text(name);
  if (!raw) return fallback;
  std::string v = trim(*raw);
  char* end = nullptr;
  double out = std::strtod(v.c_str(), &end);
  if (v.empty() || end != v.c_str() + v.size() || !std::isfinite(out)) {
    throw ValueError(std::string(name) + " must be a number, got '" + *raw + "'");
  }
  return out;
}

bool env_bool(const char* name, bool fallback) {
  auto raw = env_text(name);
  if (!raw) return fallback;
  std::string v = trim(*raw);
  std::transform(v.begin(), v.end(), v.begin(), [](unsigned char c) { return std::tolower(c); });
  if (v == "1" || v == "true" || v == "yes" || v == "on") return true;
  if (v == "0" || v == "false" || v == "no" || v == "off") return false;
  throw ValueError(std::string(name) + " must be true or false, got '" + *raw + "'");
}

}  // namespace meterops::util
