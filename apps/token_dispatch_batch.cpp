// token_dispatch_batch [--esco CODE]: two passes, pending then failed top-ups.
#include <optional>

#include <CLI/CLI.hpp>

#include "jobs/job_frame.hpp"
#include "jobs/token_dispatch_batch.hpp"
#include "util/program.hpp"

using namespace meterops;

int main(int argc, char** argv) {
  std::optional<jobs::TokenDispatchSettings> settings;
  if (int rc = util::run_program("token_dispatch_batch", [&] {
        settings = jobs::TokenDispatchSettings::from_env();
        return 0;
      })) {
    return rc;
  }
  CLI::App app{"Push pending top-up tokens to their meters."};
  std::optional<std::string> esco;
  app.add_option("--esco", esco, "Apply token push to meters in this ESCO only");
  app.callback([&] {
    if (esco) jobs::literal_ilike_pattern(*esco);
  });
  return util::program_main(app, argc, argv, [&] {
    jobs::TokenDispatchBatchJob job(*settings, esco);
    job.run("wait_token_push");
    job.run("failed_token_push");
    return 0;
  });
}
