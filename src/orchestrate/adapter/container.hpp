// Records of mediator containers: their life-cycle state, where they run,
// and a snapshot of one container as an orchestrator lists it.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace meterops::orchestrate {

enum class ContainerState { CREATED, STARTING, STARTED, STOPPING, STOPPED, REMOVING, FAILED };
enum class ContainerEnvironment { FLY };

std::string_view to_string(ContainerState s);
std::string_view to_string(ContainerEnvironment e);

struct Container {
  std::string id;
  std::string name;   // "mediator-" + serial
  std::string image;
  int port = 0;       // first port of the first service
  ContainerState status = ContainerState::CREATED;
  ContainerEnvironment container_environment = ContainerEnvironment::FLY;
  std::map<std::string, std::string> metadata;  // "meter_id", "vantor_host"
  bool operator==(const Container&) const = default;
};

}  // namespace meterops::orchestrate
