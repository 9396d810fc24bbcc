// Pushes one top-up's token to its meter and records the outcome on the
// top-up: "token_pushed" with the time of the push, or "failed_token_push"
// with the mediator's status name and message in `notes`.
#pragma once

#include <string>

#include "util/logging.hpp"
#include "util/supabase.hpp"

namespace meterops::jobs {

struct PushTopupTokenOptions {
  std::string topup_id;
  std::string meter_id;
  std::string serial;
  std::string token;
  std::string mediator_address;
};

class PushTopupTokenJob {
 public:
  // `supabase` is the customer back-end client (schema homeportal).
  PushTopupTokenJob(PushTopupTokenOptions options, util::Client supabase);

  // True when the meter took the token. A mediator failure marks the top-up
  // failed and gives false; a database failure propagates.
  bool push();

 private:
  PushTopupTokenOptions o_;
  util::Client supabase_;
  util::Logger log_;
};

}  // namespace meterops::jobs
