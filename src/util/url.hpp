// Percent-encoding of URL parts: everything but the unreserved characters
// (letters, digits, "-", "_", ".", "~") is encoded, so any value is safe in a
// path segment or a query string.
#pragma once

#include <string>

namespace meterops::util {

std::string url_encode(const std::string& s);

}  // namespace meterops::util
