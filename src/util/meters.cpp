#include "util/meters.hpp"

#include <set>
#include <sstream>

#include "util/settings.hpp"

namespace meterops::util {

namespace {

const std::set<std::string>& three_phase_families() {
  static const std::set<std::string> families = [] {
    std::set<std::string> out;
    std::stringstream ss(env_text_or("THREE_PHASE_FAMILIES", "P3"));
    for (std::string f; std::getline(ss, f, ',');) {
      f.erase(0, f.find_first_not_of(' '));
      f.erase(f.find_last_not_of(' ') + 1);
      if (!f.empty()) out.insert(f);
    }
    return out;
  }();
  return families;
}

}  // namespace

std::optional<std::string> get_hardware(const Client& supabase, const std::string& meter_id) {
  auto rows = as_list(supabase.table("meter_registry").select("hardware").eq("id", meter_id).execute());
  if (rows.empty() || !rows[0]["hardware"].is_string()) return std::nullopt;
  return rows[0]["hardware"].get<std::string>();
}

bool is_three_phase_lookup(const Client& supabase, const std::string& meter_id) {
  return is_three_phase(get_hardware(supabase, meter_id));
}

bool is_three_phase(const std::optional<std::string>& hardware) {
  if (!hardware) return false;
  return three_phase_families().count(hardware->substr(0, hardware->find('.'))) > 0;
}

}  // namespace meterops::util
