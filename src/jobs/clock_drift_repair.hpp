// Writes the clocks of active meters whose recorded drift exceeds the
// threshold, through each meter's own mediator container, and resets the
// recorded drift on success.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "orchestrate/adapter/orchestrator_core.hpp"
#include "util/logging.hpp"
#include "util/supabase.hpp"

namespace meterops::jobs {

struct ClockDriftSettings {
  std::optional<std::string> supabase_url, supabase_key, flows_role_key, env;
  std::int64_t max_parallel_jobs = 5;         // MAX_PARALLEL_JOBS
  std::int64_t drift_threshold_seconds = 20;  // DRIFT_THRESHOLD_SECONDS
  static ClockDriftSettings from_env();       // ValueError for malformed numbers
};

class ClockDriftRepairJob {
 public:
  // Ends the program with 2 or 3 when a setting is missing. `containers`
  // none: the factory's orchestrator for the ESCO and ENV.
  ClockDriftRepairJob(ClockDriftSettings settings, std::optional<std::string> esco = std::nullopt,
                      std::shared_ptr<orchestrate::OrchestratorCore> containers = nullptr);

  // One pass; ends the program with 1 when the shadow query fails.
  void run();
  bool run_job(const util::Row& meter_drift_record);

 private:
  ClockDriftSettings settings_;
  util::Logger log_;
  std::optional<std::string> esco_;
  std::shared_ptr<orchestrate::OrchestratorCore> containers_;
  std::optional<util::Client> flows_supabase_;
};

}  // namespace meterops::jobs
