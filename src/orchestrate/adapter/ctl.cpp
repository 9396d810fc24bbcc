#include "orchestrate/adapter/ctl.hpp"

#include <algorithm>
#include <array>
#include <sstream>

#include "util/errors.hpp"
#include "util/program.hpp"

namespace meterops::orchestrate {

void add_ctl_commands(CLI::App& app, CtlOptions& o) {
  app.require_subcommand(1);
  app.add_option("--esco", o.esco, "ESCO whose mediator app is used when MEDIATOR_APP is not set");

  auto* list = app.add_subcommand("list", "List the mediator containers");
  list->add_option("--meter-id", o.meter_id, "Only the containers of this meter");
  list->add_option("--state", o.state, "Only containers in this state (created, starting, started, stopping, "
                                       "stopped, destroying, failed)");

  auto* create = app.add_subcommand("create", "Create the mediator container of a meter");
  create->add_option("--meter-id", o.meter_id, "Meter id (the container's meter_id label)")->required();
  create->add_option("--serial", o.serial, "Meter serial (the container is named mediator-SERIAL)")->required();
  create->add_option("--ip-address", o.ip_address, "The meter's address (VANTOR_HOST)")->required();
  create->add_option("--port", o.port, "Published port (default: the mediator port)")->check(CLI::Range(1, 65535));
  create->add_option("--cmd", o.cmd, "Container command (default: the image's own)");
  create->add_flag("--yes", o.yes, "Create without asking");
  create->add_flag("--cert-auth", o.cert_auth,
                   "Give the container MEDIATOR_SERVER_CERT, MEDIATOR_SERVER_KEY and MEDIATOR_CA_CERT");

  auto* start = app.add_subcommand("start", "Start a container");
  start->add_option("id", o.id, "Container id")->required();
  auto* stop = app.add_subcommand("stop", "Stop a container");
  stop->add_option("id", o.id, "Container id")->required();
  auto* destroy = app.add_subcommand("destroy", "Destroy a container (stop, wait, remove)");
  destroy->add_option("id", o.id, "Container id")->required();
  destroy->add_flag("--force", o.force, "Remove without stopping first");

  auto* address = app.add_subcommand("address", "Print the mediator address of a meter");
  address->add_option("--meter-id", o.meter_id, "Meter id")->required();
  address->add_option("--serial", o.serial, "Meter serial")->required();

  for (auto* sub : {list, create, start, stop, destroy, address}) {
    sub->final_callback([&o, sub] { o.command = sub->get_name(); });
  }
}

ContainerState parse_state(const std::string& word) {
  auto it = CONTAINER_STATUS.find(word);
  if (it != CONTAINER_STATUS.end()) return it->second;
  std::string words;
  for (const auto& [w, state] : CONTAINER_STATUS) words += (words.empty() ? "" : ", ") + w;
  throw util::UsageError("--state: unknown state '" + word + "' (one of " + words + ")");
}

std::string container_table(const std::vector<Container>& containers) {
  using Row = std::array<std::string, 7>;
  std::vector<Row> rows = {{"ID", "NAME", "STATE", "PORT", "METER_ID", "VANTOR_HOST", "IMAGE"}};
  auto label = [](const Container& c, const char* key) {
    auto it = c.metadata.find(key);
    return it == c.metadata.end() ? std::string("-") : it->second;
  };
  for (const auto& c : containers) {
    rows.push_back({c.id, c.name, FLY_STATUS.at(c.status), std::to_string(c.port), label(c, "meter_id"),
                    label(c, "vantor_host"), c.image});
  }
  std::array<std::size_t, 7> width{};
  for (const auto& r : rows) {
    for (std::size_t i = 0; i < r.size(); ++i) width[i] = std::max(width[i], r[i].size());
  }
  std::ostringstream out;
  for (const auto& r : rows) {
    std::string line;
    for (std::size_t i = 0; i < r.size(); ++i) {
      line += r[i];
      if (i + 1 < r.size()) line += std::string(width[i] - r[i].size() + 2, ' ');
    }
    out << line << "\n";
  }
  return out.str();
}

int run_ctl(const CtlOptions& o, MachinesOrchestrator& orch, std::ostream& out) {
  if (o.command == "list") {
    std::optional<ContainerState> state;
    if (o.state) state = parse_state(*o.state);
    std::optional<std::pair<std::string, std::string>> filter;
    if (o.meter_id) filter = std::make_pair(std::string("meter_id"), *o.meter_id);
    out << container_table(orch.list(filter, state)) << std::flush;
    return 0;
  }
  if (o.command == "create") {
    if (orch.image().empty()) {
      throw util::GeneralError("MEDIATOR_IMAGE is not set: no image to create the mediator container from");
    }
    std::string id = orch.create(o.cmd, o.meter_id.value_or(""), o.serial, o.ip_address, o.port, std::nullopt, o.yes,
                                 o.cert_auth);
    out << "created " << id << "\n" << std::flush;
    return 0;
  }
  if (o.command == "start") {
    orch.start(o.id);
    out << "started " << o.id << "\n" << std::flush;
    return 0;
  }
  if (o.command == "stop") {
    orch.stop(o.id);
    out << "stopped " << o.id << "\n" << std::flush;
    return 0;
  }
  if (o.command == "destroy") {
    orch.destroy(o.id, o.force);
    return 0;
  }
  if (o.command == "address") {
    auto address = orch.mediator_address(o.meter_id.value_or(""), o.serial);
    if (!address) return 1;
    out << *address << "\n" << std::flush;
    return 0;
  }
  throw util::UsageError("no sub-command given");
}

}  // namespace meterops::orchestrate
