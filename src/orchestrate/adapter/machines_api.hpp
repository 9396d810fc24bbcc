// A REST client of the machines platform's HTTP API (/v1/apps/{app}/machines).
// An error answer of the platform comes back as a map with "error" so the
// caller's retry policy sees it; a transport failure raises. The token is
// sent as a bearer header and never appears in errors or logs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace meterops::orchestrate {

inline constexpr const char* FLY_REGION_DEFAULT = "lhr";
inline constexpr const char* FLY_API_HOSTNAME_DEFAULT = "https://api.machines.dev";

class API {
 public:
  using Json = nlohmann::ordered_json;

  // ValueError for a token holding a line break (never quoted).
  explicit API(std::string api_token, std::string base_url = FLY_API_HOSTNAME_DEFAULT);

  Json list(const std::string& app, const std::optional<std::string>& region = std::nullopt) const;
  Json create(const std::string& app, const std::string& image, const std::vector<std::string>& cmd,
              std::optional<int> port, std::optional<int> additional_internal_port, const std::string& name,
              const Json& env_vars, const Json& metadata, const Json& extra_config) const;
  Json start(const std::string& app, const std::string& id) const;
  Json stop(const std::string& app, const std::string& id) const;
  Json get(const std::string& app, const std::string& id) const;
  Json wait(const std::string& app, const std::string& id, const std::string& instance_id, const std::string& state) const;
  Json destroy(const std::string& app, const std::string& id, bool force,
               const std::optional<std::string>& region = std::nullopt) const;

 private:
  Json request(const std::string& method, const std::string& path, const std::optional<Json>& body) const;
  std::string token_;
  std::string base_;
};

}  // namespace meterops::orchestrate
