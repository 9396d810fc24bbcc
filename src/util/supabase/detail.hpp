// Internals shared by the two database backends: the select-text parser,
// value-to-text rules and the backend factories.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "util/supabase.hpp"

namespace meterops::util::detail {

// One item of a select text: a column, "*", or an embedded resource
// ("escos!inner(code)") with its own items.
struct SelectItem {
  std::string name;  // column or resource name; "*" for all columns
  bool embed = false;
  bool inner = false;
  std::vector<SelectItem> children;
};

// Parses PostgREST select text; GeneralError for unbalanced parentheses or
// empty items.
std::vector<SelectItem> parse_select(const std::string& text);

// The select text without white space outside double quotes.
std::string compact_select(const std::string& text);

// A scalar JSON value as filter text: strings as they are, numbers and
// booleans in JSON form, null as "null"; objects and arrays as compact JSON.
std::string value_text(const Row& value);

std::shared_ptr<Backend> make_rest_backend(const std::string& url, const std::string& key,
                                           const std::string& role_key);
std::shared_ptr<Backend> make_pg_backend(const std::string& url);

// Whether HTTP connections are reused (SUPABASE_HTTP_KEEPALIVE, default on).
void set_http_keep_alive(bool on);

// Connect time-out from SUPABASE_CONNECT_TIMEOUT_SECONDS (default 10).
long connect_timeout_seconds();
// Whole-request time-out of the REST backend from SUPABASE_TIMEOUT_SECONDS
// (default 300): a service that takes the connection and never answers.
long request_timeout_seconds();

}  // namespace meterops::util::detail
