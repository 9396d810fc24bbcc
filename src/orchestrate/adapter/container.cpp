#include "orchestrate/adapter/container.hpp"

namespace meterops::orchestrate {

std::string_view to_string(ContainerState s) {
  switch (s) {
    case ContainerState::CREATED: return "CREATED";
    case ContainerState::STARTING: return "STARTING";
    case ContainerState::STARTED: return "STARTED";
    case ContainerState::STOPPING: return "STOPPING";
    case ContainerState::STOPPED: return "STOPPED";
    case ContainerState::REMOVING: return "REMOVING";
    case ContainerState::FAILED: return "FAILED";
  }
  return "?";
}

std::string_view to_string(ContainerEnvironment) { return "FLY"; }

}  // namespace meterops::orchestrate
