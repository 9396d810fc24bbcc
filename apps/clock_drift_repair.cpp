// clock_drift_repair [--esco CODE]: write the clocks of drifted meters.
#include <optional>

#include <CLI/CLI.hpp>

#include "jobs/clock_drift_repair.hpp"
#include "util/program.hpp"

using namespace meterops;

int main(int argc, char** argv) {
  std::optional<jobs::ClockDriftSettings> settings;
  if (int rc = util::run_program("clock_drift_repair", [&] {
        settings = jobs::ClockDriftSettings::from_env();
        return 0;
      })) {
    return rc;
  }
  CLI::App app{"Repair the clocks of meters whose recorded drift exceeds the threshold."};
  std::optional<std::string> esco;
  app.add_option("--esco", esco, "Apply clock updates to meters in this ESCO only");
  return util::program_main(app, argc, argv, [&] {
    jobs::ClockDriftRepairJob job(*settings, esco);
    job.run();
    return 0;
  });
}
