// One DNS question to an explicit name server (the host's resolver
// configuration is ignored): the first A or AAAA answer's address.
#pragma once

#include <chrono>
#include <string>

namespace meterops::orchestrate {

enum class RecordType { A, AAAA };

// `server` is "host", "host:port", "[v6]" or "[v6]:port". GeneralError for
// no answer, no such name, a time-out or a bad server text.
std::string resolve_first(const std::string& name, const std::string& server, RecordType type,
                          std::chrono::milliseconds timeout = std::chrono::seconds(5));

}  // namespace meterops::orchestrate
