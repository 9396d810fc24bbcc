#include "sync/tariff_state_syncer.hpp"

#include "util/meters.hpp"

namespace meterops::sync {

UpdatesTuple TariffStateSyncer::fetch_metrics() {
  if (util::is_three_phase_lookup(supabase, meter_id)) return {};
  return {util::Row{{"tariffs_active", vantor_client.tariffs_active_read(serial)}}, std::nullopt};
}

}  // namespace meterops::sync
