// What every fleet job shares, so no job writes it again: the ordered
// environment check, the literal ESCO lookup, and (in util/worker_pool.hpp)
// the worker pool. A job supplies its own settings struct, queries, per-unit
// work and messages.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "util/logging.hpp"
#include "util/supabase.hpp"

namespace meterops::jobs {

// One line of a job's environment check: when any of `variables` is unset or
// empty, log `message` at error level and end the program with `status`.
struct EnvCheck {
  std::vector<std::string> variables;
  std::string message;
  int status;
};

// Runs the checks in order; the first failing one logs its message and
// throws util::ExitRequest{status}.
void check_environment(const util::Logger& log, const std::vector<EnvCheck>& checks);

// The pattern that matches `code` literally under ILIKE: "%", "_" and "\"
// are escaped. A code holding "*" (a wildcard of the REST interface that
// cannot be escaped there) is refused with util::UsageError.
std::string literal_ilike_pattern(const std::string& code);

// The ESCO rows whose code equals `code` regardless of letter case (matched
// literally, never as a pattern), as `select` gives them; `columns` is the
// select text ("id" in every job).
std::vector<util::Row> find_escos(const util::Client& db, const std::string& code,
                                  const std::string& columns = "id");

}  // namespace meterops::jobs
