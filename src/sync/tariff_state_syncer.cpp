#include "sync/tariff_state_syncer.hpp"

#include "sync/detail.hpp"
#include "util/logging.hpp"
#include "util/meters.hpp"

namespace meterops::sync {

using detail::opt_json;
using detail::opt_text;
using detail::registry_row;

UpdatesTuple TariffStateSyncer::fetch_metrics() {
  if (util::is_three_phase_lookup(supabase, meter_id)) return {};
  return {util::Row{{"tariffs_active", vantor_client.tariffs_active_read(serial)}}, std::nullopt};
}

}  // namespace meterops::sync
