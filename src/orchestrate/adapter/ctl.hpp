// The operator's console for mediator containers (the mediator_ctl program):
// sub-commands list, create, start, stop, destroy and address on one
// machines orchestrator, with reports on standard output.
//
//   CtlOptions opts;
//   add_ctl_commands(app, opts);       // before parsing
//   run_ctl(opts, *get_instance(opts.esco, env), std::cout);
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "orchestrate/adapter/machines_orchestrator.hpp"

namespace meterops::orchestrate {

struct CtlOptions {
  std::string command;                    // the sub-command given
  std::optional<std::string> esco;        // picks the app when MEDIATOR_APP is unset
  std::optional<std::string> meter_id;    // list filter; create and address
  std::optional<std::string> state;       // list filter, a platform state word
  std::string serial, ip_address, id;
  std::optional<int> port;
  std::string cmd;                        // empty: the image's own command
  bool yes = false, cert_auth = false, force = false;
};

// Declares the global options and the six sub-commands on `app`; parsing
// fills `opts` (command names the sub-command used).
void add_ctl_commands(CLI::App& app, CtlOptions& opts);

// A state word of the platform ("started", "destroying", ...) as a
// ContainerState; util::UsageError naming the accepted words otherwise.
ContainerState parse_state(const std::string& word);

// The containers as a table with a header line: ID, NAME, STATE, PORT,
// METER_ID, VANTOR_HOST, IMAGE; columns as wide as their longest entry.
std::string container_table(const std::vector<Container>& containers);

// Runs the parsed sub-command on `orch`, reports to `out`, returns the exit
// status (1 when `address` finds no container). Platform errors raise;
// create's refusal ends with util::ExitRequest{1}.
int run_ctl(const CtlOptions& opts, MachinesOrchestrator& orch, std::ostream& out);

}  // namespace meterops::orchestrate
