// The abstract orchestrator of mediator containers: the operations through
// which the system creates, lists, starts, stops and destroys them and finds
// a meter's mediator address, plus the environment and metadata every new
// container gets. Implementations must accept concurrent calls.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "orchestrate/adapter/container.hpp"

namespace meterops::orchestrate {

// Ordered map of text to text (or null): a container's environment.
using EnvMap = nlohmann::ordered_json;

class OrchestratorCore {
 public:
  virtual ~OrchestratorCore() = default;

  // The first container labelled with this meter id, or none.
  std::optional<Container> get(const std::string& meter_id);

  virtual std::vector<Container> list(const std::optional<std::pair<std::string, std::string>>& metadata_filter = std::nullopt,
                                      const std::optional<ContainerState>& status_filter = std::nullopt) = 0;
  virtual std::string create(const std::string& cmd, const std::string& meter_id, const std::string& serial,
                             const std::string& ip_address, std::optional<int> port = std::nullopt,
                             std::optional<int> additional_internal_port = std::nullopt, bool skip_confirm = false,
                             bool use_cert_auth = false) = 0;
  virtual void start(const std::string& id) = 0;
  virtual void stop(const std::string& id) = 0;
  virtual void destroy(const std::string& id, bool force) = 0;
  // "host:port" of the meter's mediator, or none without a container.
  virtual std::optional<std::string> mediator_address(const std::string& meter_id, const std::string& serial) = 0;

  // VANTOR_HOST, MEDIATOR_INACTIVITY_SECONDS (null when unset), the four
  // SOCKS_ entries when all are set, and the certificate entries when
  // use_cert_auth (GeneralError when one is missing). Read afresh each call.
  EnvMap _env_vars(const std::string& ip_address, bool use_cert_auth) const;
  // The four SOCKS_ settings, or none unless all four are set.
  std::optional<EnvMap> _socks_dict() const;
  EnvMap _certificates_dict() const;
  // {"meter_id": meter_id, "vantor_host": ip_address}
  nlohmann::ordered_json _metadata(const std::string& meter_id, const std::string& ip_address) const;
};

}  // namespace meterops::orchestrate
