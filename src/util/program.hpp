// The one wrapper every program's main() goes through: option parsing with
// usage errors on standard error (status 2), ExitRequest{N} as status N, and
// any other escaped error described on standard error (status 1).
//
//   int main(int argc, char** argv) {
//     CLI::App app{"Sync meter metrics"};
//     std::string freq; app.add_option("--freq", freq)->required();
//     return util::program_main(app, argc, argv, [&] { ...; return 0; });
//   }
#pragma once

#include <functional>
#include <string>

#include <CLI/CLI.hpp>

#include "util/errors.hpp"

namespace meterops::util {

// A command-line error found after parsing (for example two options that
// must be used together). Reported like a parser error: usage, message, 2.
class UsageError : public ArgumentTypeError {
 public:
  using ArgumentTypeError::ArgumentTypeError;
  const char* kind() const noexcept override { return "UsageError"; }
};

// Parses argv into `app`, then runs `body`. Returns the process exit status.
int program_main(CLI::App& app, int argc, char** argv, const std::function<int()>& body);

// Runs `body` alone with the same error mapping (no option parsing).
int run_program(const std::string& program, const std::function<int()>& body);

// The short usage line of `app` ("usage: prog [OPTIONS] ...").
std::string usage_line(const CLI::App& app);

}  // namespace meterops::util
