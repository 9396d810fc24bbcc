#include "sync/register_syncers.hpp"

#include "util/errors.hpp"
#include "util/logging.hpp"
#include "util/meters.hpp"

namespace meterops::sync {

namespace {

const util::Logger& model_code_log() {
  static const util::Logger log = util::get_logger("sync.model_code_syncer", __FILE__);
  return log;
}

const util::Logger& firmware_log() {
  static const util::Logger log = util::get_logger("sync.firmware_level_syncer", __FILE__);
  return log;
}

util::Row opt_json(const std::optional<std::string>& v) { return v ? util::Row(*v) : util::Row(nullptr); }

std::optional<std::string> opt_text(const util::Row& v) {
  if (v.is_string()) return v.get<std::string>();
  return std::nullopt;
}

// The registry row of `columns` for the meter; ValueError when it is missing.
util::Row registry_row(SyncerBase& s, const char* columns) {
  auto response = s.supabase.table("meter_registry").select(columns).eq("id", s.meter_id).execute();
  if (util::as_list(response).empty()) throw util::ValueError("Meter not found with id " + s.meter_id);
  return util::as_first_item(response);
}

}  // namespace

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

UpdatesTuple ModelCodeSyncer::fetch_metrics() {
  util::Row row = registry_row(*this, "hardware,serial");
  auto fetched = vantor_client.hardware(serial);
  auto registered = opt_text(row["hardware"]);
  if (registered == fetched) return {};
  if (!registered && fetched) {
    model_code_log().info("got new hardware", {{"new_hardware", *fetched}});
  } else {
    model_code_log().warning("fetched hardware and registry hardware different!",
                             {{"new_hardware", opt_json(fetched)}, {"old_hardware", opt_json(registered)}});
  }
  return {std::nullopt, util::Row{{"hardware", opt_json(fetched)}}};
}

UpdatesTuple FirmwareLevelSyncer::fetch_metrics() {
  util::Row row = registry_row(*this, "firmware_version,serial");
  auto fetched = vantor_client.firmware_version(serial);
  auto registered = opt_text(row["firmware_version"]);
  if (registered == fetched) return {};
  firmware_log().info("update firmware_version", {{"new_firmware_version", opt_json(fetched)}});
  return {std::nullopt, util::Row{{"firmware_version", opt_json(fetched)}}};
}

UpdatesTuple PaymentModeSyncer::fetch_metrics() {
  auto row = util::as_first_item(supabase.table("meter_registry").select("hardware").eq("id", meter_id).execute());
  if (util::is_three_phase(opt_text(row["hardware"]))) return {};
  return {std::nullopt, util::Row{{"prepay_enabled", vantor_client.prepay_enabled(serial)}}};
}

UpdatesTuple TariffStateSyncer::fetch_metrics() {
  if (util::is_three_phase_lookup(supabase, meter_id)) return {};
  return {util::Row{{"tariffs_active", vantor_client.tariffs_active_read(serial)}}, std::nullopt};
}

}  // namespace meterops::sync
