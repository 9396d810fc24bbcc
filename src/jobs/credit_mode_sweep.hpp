// Switches prepayment mode off on the prepayment meters of one ESCO (model
// codes P1.ax and P1.cx excepted), 15 meters at a time; ends with a count.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "mediator/api_prepay.hpp"
#include "util/logging.hpp"
#include "util/supabase.hpp"

namespace meterops::jobs {

// Model codes never swept.
inline const std::vector<std::string> kSweepExcludedHardware = {"P1.ax", "P1.cx"};

// One meter: clears its prepayment flag through the mediator.
class CreditModeSweepJob {
 public:
  CreditModeSweepJob(util::Row meter, std::string mediator_address, util::Client supabase);
  // True when the flag was cleared; mediator and other failures are logged
  // and give false.
  bool update();

 private:
  util::Row meter_;
  std::string mediator_address_;
  util::Client supabase_;
  mediator::VantorPrepayAPI vantor_client_;
  util::Logger log_;
};

struct CreditModeSweepSettings {
  std::optional<std::string> supabase_url, supabase_key, flows_role_key, mediator_server;
  static CreditModeSweepSettings from_env();
};

class CreditModeSweepAllJob {
 public:
  static constexpr std::size_t kPoolSize = 15;

  // Ends the program with 2 to 4 when a setting is missing.
  CreditModeSweepAllJob(CreditModeSweepSettings settings, std::optional<std::string> esco);
  // The sweep; 10 when the ESCO is unknown or has no meter to sweep.
  void run();
  bool run_job(const util::Row& meter_row);

 private:
  CreditModeSweepSettings settings_;
  util::Logger log_;
  std::optional<std::string> esco_;
  std::optional<util::Client> flows_supabase_;
};

}  // namespace meterops::jobs
