// Settings of the single-meter tools, from the environment.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace meterops::util {

// "supabase_url", "supabase_anon_key", "supabase_access_token" and
// "mediator_server", from SUPABASE_URL, SUPABASE_ANON_KEY,
// SUPABASE_ACCESS_TOKEN and MEDIATOR_SERVER; none when unset.
std::map<std::string, std::optional<std::string>> load_config();

}  // namespace meterops::util
