#include "jobs/util.hpp"

#include "util/errors.hpp"

namespace meterops::jobs {

void handle_supabase_faliure(const util::Logger& log, const std::exception& error) {
  // Error texts of the database client never carry keys or passwords.
  log.error("supabase connection failure", {{"error", util::describe_exception(error)}});
}

}  // namespace meterops::jobs
