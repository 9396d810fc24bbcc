// Helpers the register syncers share.
#pragma once

#include <optional>
#include <string>

#include "sync/syncer_base.hpp"

namespace meterops::sync::detail {

util::Row opt_json(const std::optional<std::string>& v);
std::optional<std::string> opt_text(const util::Row& v);
// The registry row of `columns` for the meter; ValueError
// "Meter not found with id <id>" when it is missing.
util::Row registry_row(SyncerBase& s, const char* columns);

}  // namespace meterops::sync::detail
