// Brings one meter's metrics up to date for one run frequency: every enabled
// meter_metrics row of the frequency names a syncer class, which runs for the
// meter; a failing metric is logged and the next one runs.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "mediator/api_core.hpp"
#include "sync/syncer_base.hpp"
#include "util/logging.hpp"
#include "util/supabase.hpp"

namespace meterops::jobs {

// The syncer class called exactly `name`, or none.
std::optional<sync::SyncerFactory> find_syncer_class(const std::string& name);

struct MetricRefreshOptions {
  std::string meter_id;
  std::string mediator_address = "0.0.0.0:50051";
  std::string supabase_url;
  std::string supabase_key;
  std::string flows_role_key;
  std::string run_frequency;
  bool use_cert_auth = false;  // accepted; the client is built from the address alone
};

class MetricRefreshJob {
 public:
  // Looks the meter's serial up; GeneralError "meter <id> not found".
  explicit MetricRefreshJob(const MetricRefreshOptions& options);

  void sync();

  const std::string& serial() const { return serial_; }

 private:
  MetricRefreshOptions options_;
  util::Client supabase_;
  std::string serial_;
  std::unique_ptr<mediator::VantorMediatorAPI> vantor_client_;
  util::Logger log_;
};

}  // namespace meterops::jobs
