#include "sync/detail.hpp"

#include "util/errors.hpp"

namespace meterops::sync::detail {

util::Row opt_json(const std::optional<std::string>& v) { return v ? util::Row(*v) : util::Row(nullptr); }

std::optional<std::string> opt_text(const util::Row& v) {
  if (v.is_string()) return v.get<std::string>();
  return std::nullopt;
}

util::Row registry_row(SyncerBase& s, const char* columns) {
  auto response = s.supabase.table("meter_registry").select(columns).eq("id", s.meter_id).execute();
  if (util::as_list(response).empty()) throw util::ValueError("Meter not found with id " + s.meter_id);
  return util::as_first_item(response);
}

}  // namespace meterops::sync::detail
