// What the registry says about a meter's model.
#pragma once

#include <optional>
#include <string>

#include "util/supabase.hpp"

namespace meterops::util {

// The meter's model code from meter_registry; none when the row or the code
// is missing.
std::optional<std::string> get_hardware(const Client& supabase, const std::string& meter_id);

// True when the registry's model code is a three-phase model.
bool is_three_phase_lookup(const Client& supabase, const std::string& meter_id);

// True when the model family (the text before the first ".") is one of the
// three-phase families: THREE_PHASE_FAMILIES, comma-separated, default "P3".
// So "P3.ax" is three-phase and "P1.ax" is not.
bool is_three_phase(const std::optional<std::string>& hardware);

}  // namespace meterops::util
