// Delivers pending prepayment top-up tokens to their active meters, for the
// whole fleet or one ESCO, several at a time; ends each pass with a count of
// successful pushes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "util/logging.hpp"
#include "util/supabase.hpp"

namespace meterops::jobs {

struct TokenDispatchSettings {
  std::optional<std::string> supabase_url, supabase_key, flows_role_key, public_backend_role_key, mediator_server;
  std::int64_t max_parallel_jobs = 5;
  static TokenDispatchSettings from_env();  // ValueError for a malformed MAX_PARALLEL_JOBS
};

class TokenDispatchBatchJob {
 public:
  // Ends the program with 2 to 5 when a setting is missing.
  explicit TokenDispatchBatchJob(TokenDispatchSettings settings, std::optional<std::string> esco = std::nullopt);

  // One pass over the unused top-ups in `status`; 10 when the ESCO is unknown.
  void run(const std::string& status = "wait_token_push");
  bool run_job(const util::Row& topup);
  // Top-ups in `status` not yet used; none: no meter filter; a list (even
  // an empty one): only those meters.
  util::Response _get_topups_query(const std::string& status,
                                   const std::optional<std::vector<util::Row>>& meters = std::nullopt);

 private:
  TokenDispatchSettings settings_;
  util::Logger log_;
  std::optional<std::string> esco_;
  std::optional<util::Client> flows_supabase_;
  std::optional<util::Client> backend_supabase_;
};

}  // namespace meterops::jobs
