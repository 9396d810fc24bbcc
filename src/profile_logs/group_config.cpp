#include "profile_logs/group_config.hpp"

namespace meterops::profile_logs {

GroupConfig GroupConfig::get_instance_from_properties(const std::string& name, const Properties& all_props,
                                                      const Properties& default_props) {
  GroupConfig g;
  g.name = name;
  if (const auto* f = all_props.find(name + ".folder")) g.folder = *f;
  const std::string prefix = name + ".";
  for (const auto& [key, value] : all_props.entries()) {
    if (key.size() > prefix.size() && key.compare(0, prefix.size(), prefix) == 0) {
      g.settings.set(key.substr(prefix.size()), value);
    }
  }
  for (const auto& [key, value] : default_props.entries()) {
    if (!g.settings.contains(key)) g.settings.set(key, value);
  }
  return g;
}

std::optional<std::string> GroupConfig::get(const std::string& key) const {
  if (const auto* v = settings.find(key)) return *v;
  return std::nullopt;
}

}  // namespace meterops::profile_logs
