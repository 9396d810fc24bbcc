// credit_mode_sweep --esco CODE: switch prepayment mode off on an ESCO's meters.
#include <optional>

#include <CLI/CLI.hpp>

#include "jobs/credit_mode_sweep.hpp"
#include "jobs/job_frame.hpp"
#include "util/program.hpp"

using namespace meterops;

int main(int argc, char** argv) {
  auto settings = jobs::CreditModeSweepSettings::from_env();
  CLI::App app{"Switch prepayment mode off on the prepayment meters of one ESCO."};
  std::string esco;
  // Required, so a sweep can never reach the whole fleet by accident.
  app.add_option("--esco", esco, "Flip meters in this ESCO only")->required();
  app.callback([&] { jobs::literal_ilike_pattern(esco); });
  return util::program_main(app, argc, argv, [&] {
    jobs::CreditModeSweepAllJob job(settings, esco);
    job.run();
    return 0;
  });
}
