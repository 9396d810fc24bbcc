// wallet_floor_job: report meters whose balance is below their wallet floor.
#include <iostream>

#include <CLI/CLI.hpp>

#include "jobs/wallet_floor_job.hpp"
#include "util/program.hpp"

using namespace meterops;

int main(int argc, char** argv) {
  auto settings = jobs::WalletFloorSettings::from_env();
  CLI::App app{"Find all meters where current balance is less than wallet minimum_balance."};
  return util::program_main(app, argc, argv, [&] {
    jobs::WalletFloorJob job(settings, std::cout);
    job.run();
    return 0;
  });
}
