#include "util/config.hpp"

#include <cstdlib>

namespace meterops::util {

std::map<std::string, std::optional<std::string>> load_config() {
  auto get = [](const char* name) -> std::optional<std::string> {
    const char* v = std::getenv(name);
    if (!v) return std::nullopt;
    return std::string(v);
  };
  return {{"supabase_url", get("SUPABASE_URL")},
          {"supabase_anon_key", get("SUPABASE_ANON_KEY")},
          {"supabase_access_token", get("SUPABASE_ACCESS_TOKEN")},
          {"mediator_server", get("MEDIATOR_SERVER")}};
}

}  // namespace meterops::util
