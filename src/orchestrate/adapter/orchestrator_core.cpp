#include "orchestrate/adapter/orchestrator_core.hpp"

#include <cstdlib>

#include "util/errors.hpp"

namespace meterops::orchestrate {

namespace {
// An unset variable is null; an empty one is present and empty.
EnvMap env_value(const char* name) {
  const char* v = std::getenv(name);
  return v ? EnvMap(std::string(v)) : EnvMap(nullptr);
}
}  // namespace

std::optional<Container> OrchestratorCore::get(const std::string& meter_id) {
  auto containers = list(std::make_pair(std::string("meter_id"), meter_id), std::nullopt);
  if (containers.empty()) return std::nullopt;
  return containers.front();
}

std::optional<EnvMap> OrchestratorCore::_socks_dict() const {
  EnvMap m = EnvMap::object();
  for (const char* suffix : {"HOST", "PORT", "USERNAME", "PASSWORD"}) {
    std::string key = std::string("SOCKS_") + suffix;
    m[key] = env_value(key.c_str());
  }
  for (const char* suffix : {"HOST", "PORT", "USERNAME", "PASSWORD"}) {
    if (m[std::string("SOCKS_") + suffix].is_null()) return std::nullopt;
  }
  return m;
}

EnvMap OrchestratorCore::_certificates_dict() const {
  EnvMap m = EnvMap::object();
  for (const char* key : {"MEDIATOR_SERVER_CERT", "MEDIATOR_SERVER_KEY", "MEDIATOR_CA_CERT"}) {
    m[key] = env_value(key);
    if (m[key].is_null()) throw util::GeneralError("use_cert_auth is True but certificate environment variables not set");
  }
  return m;
}

EnvMap OrchestratorCore::_env_vars(const std::string& ip_address, bool use_cert_auth) const {
  EnvMap m = EnvMap::object();
  m["VANTOR_HOST"] = ip_address;
  m["MEDIATOR_INACTIVITY_SECONDS"] = env_value("MEDIATOR_INACTIVITY_SECONDS");
  if (auto socks = _socks_dict()) {
    for (auto it = socks->begin(); it != socks->end(); ++it) m[it.key()] = it.value();
  }
  if (use_cert_auth) {
    auto certs = _certificates_dict();
    for (auto it = certs.begin(); it != certs.end(); ++it) m[it.key()] = it.value();
  }
  return m;
}

nlohmann::ordered_json OrchestratorCore::_metadata(const std::string& meter_id, const std::string& ip_address) const {
  return {{"meter_id", meter_id}, {"vantor_host", ip_address}};
}

}  // namespace meterops::orchestrate
