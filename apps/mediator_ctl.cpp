// mediator_ctl: operate the per-meter mediator containers on the machines
// platform (settings as for the orchestrator factory: FLY_API_TOKEN, ...).
//   mediator_ctl list [--meter-id ID] [--state STATE]
//   mediator_ctl create --meter-id ID --serial S --ip-address IP [--port N] [--cmd CMD] [--yes] [--cert-auth]
//   mediator_ctl start ID | stop ID | destroy ID [--force]
//   mediator_ctl address --meter-id ID --serial S
#include <iomanip>
#include <iostream>

#include <CLI/CLI.hpp>

#include "orchestrate/adapter/factory.hpp"
#include "util/errors.hpp"
#include "util/program.hpp"
#include "util/settings.hpp"

using namespace meterops;
using namespace meterops::orchestrate;

int main(int argc, char** argv) {
  CLI::App app{"Operate the mediator containers on the machines platform."};
  app.require_subcommand(1);
  std::optional<std::string> esco;
  app.add_option("--esco", esco, "ESCO whose mediator app is used (when MEDIATOR_APP is not set)");

  auto* list = app.add_subcommand("list", "List mediator containers");
  std::optional<std::string> meter_id_filter, state_filter;
  list->add_option("--meter-id", meter_id_filter, "Only the container of this meter");
  list->add_option("--state", state_filter, "Only containers in this state (started, stopped, ...)");

  auto* create = app.add_subcommand("create", "Create a mediator container for a meter");
  std::string meter_id, serial, ip_address, cmd = "serve";
  std::optional<int> port;
  bool yes = false, cert_auth = false;
  create->add_option("--meter-id", meter_id, "Meter id")->required();
  create->add_option("--serial", serial, "Meter serial")->required();
  create->add_option("--ip-address", ip_address, "Meter address")->required();
  create->add_option("--port", port, "Public service port");
  create->add_option("--cmd", cmd, "Container command");
  create->add_flag("--yes", yes, "Do not ask for confirmation");
  create->add_flag("--cert-auth", cert_auth, "Give the container the certificate settings");

  std::string id;
  bool force = false;
  auto* start = app.add_subcommand("start", "Start a container");
  start->add_option("id", id, "Container id")->required();
  auto* stop = app.add_subcommand("stop", "Stop a container");
  stop->add_option("id", id, "Container id")->required();
  auto* destroy = app.add_subcommand("destroy", "Destroy a container");
  destroy->add_option("id", id, "Container id")->required();
  destroy->add_flag("--force", force, "Destroy without stopping first");

  auto* address = app.add_subcommand("address", "Print the mediator address of a meter");
  address->add_option("--meter-id", meter_id, "Meter id")->required();
  address->add_option("--serial", serial, "Meter serial")->required();

  return util::program_main(app, argc, argv, [&] {
    auto orch = get_instance(esco, util::env_text("ENV"));
    if (list->parsed()) {
      std::optional<ContainerState> state;
      if (state_filter) {
        auto it = CONTAINER_STATUS.find(*state_filter);
        if (it == CONTAINER_STATUS.end()) throw util::UsageError("unknown state " + *state_filter);
        state = it->second;
      }
      std::optional<std::pair<std::string, std::string>> md;
      if (meter_id_filter) md = std::make_pair(std::string("meter_id"), *meter_id_filter);
      std::cout << std::left << std::setw(18) << "ID" << std::setw(28) << "NAME" << std::setw(12) << "STATE"
                << std::setw(16) << "METER_ID" << "IMAGE\n";
      for (const auto& c : orch->list(md, state)) {
        auto mid = c.metadata.count("meter_id") ? c.metadata.at("meter_id") : "";
        std::cout << std::left << std::setw(18) << c.id << std::setw(28) << c.name << std::setw(12)
                  << FLY_STATUS.at(c.status) << std::setw(16) << mid << c.image << "\n";
      }
    } else if (create->parsed()) {
      std::cout << orch->create(cmd, meter_id, serial, ip_address, port, std::nullopt, yes, cert_auth) << "\n";
    } else if (start->parsed()) {
      orch->start(id);
    } else if (stop->parsed()) {
      orch->stop(id);
    } else if (destroy->parsed()) {
      orch->destroy(id, force);
    } else if (address->parsed()) {
      auto addr = orch->mediator_address(meter_id, serial);
      if (!addr) return 1;
      std::cout << *addr << "\n";
    }
    return 0;
  });
}
