// mediator_ctl: operate the per-meter mediator containers on the machines
// platform (settings as for the orchestrator factory: FLY_API_TOKEN, ...).
//   mediator_ctl [--esco CODE] list [--meter-id ID] [--state STATE]
//   mediator_ctl create --meter-id ID --serial S --ip-address IP [--port N] [--cmd CMD] [--yes] [--cert-auth]
//   mediator_ctl start ID | stop ID | destroy ID [--force]
//   mediator_ctl address --meter-id ID --serial S
#include <iostream>

#include <CLI/CLI.hpp>

#include "orchestrate/adapter/ctl.hpp"
#include "orchestrate/adapter/factory.hpp"
#include "util/program.hpp"
#include "util/settings.hpp"

using namespace meterops;

int main(int argc, char** argv) {
  CLI::App app{"Operate the mediator containers on the machines platform."};
  orchestrate::CtlOptions opts;
  orchestrate::add_ctl_commands(app, opts);
  return util::program_main(app, argc, argv, [&] {
    auto orch = orchestrate::get_instance(opts.esco, util::env_text("ENV"));
    return orchestrate::run_ctl(opts, *orch, std::cout);
  });
}
