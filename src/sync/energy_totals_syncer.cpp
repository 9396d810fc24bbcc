#include "sync/energy_totals_syncer.hpp"

#include "util/meters.hpp"

namespace meterops::sync {

UpdatesTuple EnergyTotalsSyncer::fetch_metrics() {
  auto hardware = util::get_hardware(supabase, meter_id);
  if (!hardware || hardware->empty()) return {};
  if (util::is_three_phase_lookup(supabase, meter_id)) {
    auto t = vantor_client.three_phase_read(serial, std::nullopt);
    return {util::Row{{"import_a", t.active_import}, {"export_a", t.active_export}}, std::nullopt};
  }
  auto a = vantor_client.read_element_a(serial);
  auto b = vantor_client.read_element_b(serial);
  return {util::Row{{"import_a", a.import_active}, {"import_b", b.import_active}, {"export_a", a.export_active},
                    {"export_b", b.export_active}},
          std::nullopt};
}

}  // namespace meterops::sync
