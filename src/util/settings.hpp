// Reading settings from the environment. Programs read one settings struct at
// the top of main(); a malformed number is a ValueError naming the variable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace meterops::util {

// The variable's text; none when unset or empty (an empty setting counts as
// missing, as operators clear a variable by setting it to nothing).
std::optional<std::string> env_text(const char* name);

// The variable's text, or `fallback` when unset or empty.
std::string env_text_or(const char* name, const std::string& fallback);

// A whole number (surrounding blanks allowed), or `fallback` when unset or
// empty. Throws ValueError naming the variable for anything else.
int64_t env_int(const char* name, int64_t fallback);

// A whole number >= min_value; ValueError naming the variable otherwise.
int64_t env_int_at_least(const char* name, int64_t fallback, int64_t min_value);

// A number (decimal, may have a fraction), or `fallback`.
double env_double(const char* name, double fallback);

// true/false, 1/0, yes/no, on/off (any case), or `fallback`.
bool env_bool(const char* name, bool fallback);

}  // namespace meterops::util
