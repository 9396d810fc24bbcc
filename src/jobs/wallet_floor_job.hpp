// Finds the meters whose balance is below their wallet's minimum (with
// automatic top-up on), confirms each against a fresh balance read from the
// meter, and prints the ones still below as a report on standard output.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "util/logging.hpp"
#include "util/supabase.hpp"

namespace meterops::jobs {

struct WalletFloorSettings {
  std::optional<std::string> supabase_url, supabase_key, public_backend_role_key, fly_region, mediator_server;
  static WalletFloorSettings from_env();
};

class WalletFloorJob {
 public:
  // Ends the program with 2 to 5 when a setting is missing.
  explicit WalletFloorJob(WalletFloorSettings settings, std::ostream& out);
  // Ends the program with 5 after a database connection failure, 6 after
  // any other failure of the walk.
  void run();

 private:
  WalletFloorSettings settings_;
  std::ostream& out_;
  util::Logger log_;
  std::optional<util::Client> backend_supabase_;
};

}  // namespace meterops::jobs
