#include "sync/payment_mode_syncer.hpp"

#include "sync/detail.hpp"
#include "util/meters.hpp"

namespace meterops::sync {

using detail::opt_text;

UpdatesTuple PaymentModeSyncer::fetch_metrics() {
  auto row = util::as_first_item(supabase.table("meter_registry").select("hardware").eq("id", meter_id).execute());
  if (util::is_three_phase(opt_text(row["hardware"]))) return {};
  return {std::nullopt, util::Row{{"prepay_enabled", vantor_client.prepay_enabled(serial)}}};
}

}  // namespace meterops::sync
