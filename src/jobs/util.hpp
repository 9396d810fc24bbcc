// Helpers every job shares around the database client.
#pragma once

#include <exception>

#include "util/logging.hpp"

namespace meterops::jobs {

// Reports a failure to reach the database through the caller's bound logger
// (one error line with the error; never a key) and returns; the caller
// decides what follows.
void handle_supabase_faliure(const util::Logger& log, const std::exception& error);

}  // namespace meterops::jobs
