// Builds the orchestrator of the mediator containers from the environment.
//   FLY_API_TOKEN (required), FLY_API_HOSTNAME, MEDIATOR_APP, MEDIATOR_IMAGE,
//   FLY_REGION, FLY_DNS_SERVER, MEDIATOR_USE_PRIVATE_ADDRESS,
//   FLY_PRIVATE_DOMAIN, FLY_PUBLIC_DOMAIN, PUBLIC_DNS_SERVER, MEDIATOR_PORT
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "orchestrate/adapter/machines_orchestrator.hpp"

namespace meterops::orchestrate {

// The app name: MEDIATOR_APP, else "mediators-<esco>-<env>" in lower case
// with absent parts left out. GeneralError without FLY_API_TOKEN.
std::shared_ptr<MachinesOrchestrator> get_instance(const std::optional<std::string>& esco,
                                                   const std::optional<std::string>& env);

}  // namespace meterops::orchestrate
