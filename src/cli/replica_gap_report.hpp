// The replica gap report: checks a replica folder for days without a daily
// file over a date range and prints the missing days per directory, with
// consecutive days joined into ranges. Exit status 1 when anything is
// missing, 0 when nothing is, 2 for a bad command line or a missing root.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "profile_logs/replicas/replica_missing_file_utils.hpp"

namespace meterops::cli {

using profile_logs::replicas::Date;
using MissingMap = std::map<std::string, std::vector<Date>>;

// "YYYY-MM-DD" (month and day of one or two digits, real days only);
// util::ArgumentTypeError "Invalid date format: <text>. Use YYYY-MM-DD".
Date valid_date(const std::string& date_str);

// Prints "Error: Root folder does not exist: <path>" and ends the program
// with status 2 (util::ExitRequest) when the root is missing.
MissingMap check_missing_files_with_validation(const std::filesystem::path& root_path, Date start_date,
                                               Date end_date, std::ostream& out);

// The report, exactly as operators and scripts read it.
void print_report(const MissingMap& missing_map, Date start_date, Date end_date, std::ostream& out);

// Joins ascending days into "2024-01-03 to 2024-01-05" / "2024-01-09" texts.
std::vector<std::string> day_ranges(const std::vector<Date>& dates);

// On Ctrl-C: print the cancellation line on standard output and end with 1.
void install_interrupt_handler();

int replica_gap_report_main(int argc, char** argv);

}  // namespace meterops::cli
