// Refreshes the metrics of one run frequency on every connected, active
// meter of one ESCO (or of the whole fleet), one metric refresh per meter in
// a pool of worker threads.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "util/logging.hpp"
#include "util/supabase.hpp"

namespace meterops::jobs {

struct FleetSyncSettings {
  std::optional<std::string> mediator_server;  // MEDIATOR_SERVER
  std::optional<std::string> supabase_url;     // SUPABASE_URL
  std::optional<std::string> supabase_key;     // SUPABASE_ANON_KEY
  std::optional<std::string> flows_role_key;   // FLOWS_ROLE_KEY
  std::int64_t max_parallel_jobs = 15;         // MAX_PARALLEL_JOBS

  // ValueError naming MAX_PARALLEL_JOBS when it is not a whole number >= 1.
  static FleetSyncSettings from_env();
};

// True when the registry row has an ip_address (any text, even empty).
bool filter_connected(const util::Row& meter);

class FleetSyncJob {
 public:
  using Filter = std::function<bool(const util::Row&)>;

  // Checks the environment behind `settings` (SUPABASE_URL and
  // SUPABASE_ANON_KEY, FLOWS_ROLE_KEY, MEDIATOR_SERVER, in that order; the
  // first one missing or empty ends the program with 2, 3 or 4 after one
  // error line) and builds the database client.
  FleetSyncJob(FleetSyncSettings settings, Filter filter_fn = nullptr,
               std::optional<std::string> run_frequency = std::nullopt, std::optional<std::string> esco = std::nullopt);

  // One pass; may end the program with 10 (no such ESCO) or 11 (no meters).
  void run();
  // One meter's refresh; logs its failures and never raises.
  void run_job(const std::string& meter_id, const std::string& serial);

 private:
  void _check_environment();

  FleetSyncSettings settings_;
  std::optional<std::string> esco_;
  util::Logger log_;
  Filter filter_fn_;
  std::optional<std::string> run_frequency_;
  std::optional<util::Client> supabase_;
};

}  // namespace meterops::jobs
