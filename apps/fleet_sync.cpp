// fleet_sync --freq hourly|daily|12hourly [--esco CODE]
#include <optional>

#include <CLI/CLI.hpp>

#include "jobs/fleet_sync.hpp"
#include "jobs/job_frame.hpp"
#include "util/program.hpp"

using namespace meterops;

int main(int argc, char** argv) {
  std::optional<jobs::FleetSyncSettings> settings;
  if (int rc = util::run_program("fleet_sync", [&] {
        settings = jobs::FleetSyncSettings::from_env();
        return 0;
      })) {
    return rc;
  }
  CLI::App app{"Sync meter metrics of one run frequency for every connected meter of an ESCO."};
  std::string freq;
  std::optional<std::string> esco;
  app.add_option("--freq", freq, "Sync meter_metrics that have this frequency")
      ->required()
      ->check(CLI::IsMember({"hourly", "daily", "12hourly"}));
  app.add_option("--esco", esco, "Apply sync to meters in this esco only");
  app.callback([&] {
    if (esco) jobs::literal_ilike_pattern(*esco);  // refuses codes the lookup cannot match literally
  });
  return util::program_main(app, argc, argv, [&] {
    jobs::FleetSyncJob job(*settings, nullptr, freq, esco);
    job.run();
    return 0;
  });
}
