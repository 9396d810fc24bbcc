// One fetcher group's settings: the group's name, its folder
// ("<name>.folder") and its effective settings, every "<name>.<key>" entry
// with the defaults filling the keys the group does not set.
#pragma once

#include <optional>
#include <string>

#include "profile_logs/properties.hpp"

namespace meterops::profile_logs {

struct GroupConfig {
  std::string name;
  std::optional<std::string> folder;  // none when "<name>.folder" is absent
  Properties settings;                // group keys in file order, then defaults

  static GroupConfig get_instance_from_properties(const std::string& name, const Properties& all_props,
                                                  const Properties& default_props);

  // The effective value of `key`, or none.
  std::optional<std::string> get(const std::string& key) const;
};

}  // namespace meterops::profile_logs
