// The replica comparison program: compares two replica folders and prints
// the report, human-readable or as JSON. Exit status 0 when the replicas
// match, 1 when they differ, 2 for a bad command line (a bad or reversed
// date range, a folder that does not exist).
#pragma once

#include <ostream>

#include "profile_logs/replicas/replica_diff_tools.hpp"

namespace meterops::cli {

void print_comparison_text(const profile_logs::replicas::ComparisonReport& report, const std::string& folder_1,
                           const std::string& folder_2, std::ostream& out);
void print_comparison_json(const profile_logs::replicas::ComparisonReport& report, const std::string& folder_1,
                           const std::string& folder_2, std::ostream& out);

int replica_diff_main(int argc, char** argv);

}  // namespace meterops::cli
