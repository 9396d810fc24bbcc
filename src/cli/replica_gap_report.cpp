#include "cli/replica_gap_report.hpp"

#include <csignal>
#include <iostream>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "util/errors.hpp"
#include "util/program.hpp"

namespace meterops::cli {

using profile_logs::replicas::format_date;

Date valid_date(const std::string& date_str) {
  if (auto d = profile_logs::replicas::parse_date(date_str)) return *d;
  throw util::ArgumentTypeError("Invalid date format: " + date_str + ". Use YYYY-MM-DD");
}

MissingMap check_missing_files_with_validation(const std::filesystem::path& root_path, Date start_date,
                                               Date end_date, std::ostream& out) {
  std::error_code ec;
  if (!std::filesystem::exists(root_path, ec)) {
    out << "Error: Root folder does not exist: " << root_path.string() << std::endl;
    throw util::ExitRequest{2};
  }
  return profile_logs::replicas::check_missing_files(root_path, start_date, end_date);
}

std::vector<std::string> day_ranges(const std::vector<Date>& dates) {
  std::vector<std::string> out;
  if (dates.empty()) return out;
  Date range_start = dates.front(), prev = dates.front();
  auto close = [&] {
    out.push_back(range_start == prev ? format_date(prev) : format_date(range_start) + " to " + format_date(prev));
  };
  for (std::size_t i = 1; i < dates.size(); ++i) {
    Date current = dates[i];
    if (current - prev > std::chrono::days{1}) {
      close();
      range_start = current;
    }
    prev = current;
  }
  close();
  return out;
}

void print_report(const MissingMap& missing_map, Date start_date, Date end_date, std::ostream& out) {
  const std::string rule(80, '=');
  out << "\n" << rule << "\n";
  out << "MISSING FILES REPORT\n";
  out << rule << "\n";
  out << "Date Range: " << format_date(start_date) << " to " << format_date(end_date) << "\n";
  if (missing_map.empty()) {
    out << "\nSUCCESS: No missing files found in the scanned directories.\n";
    out.flush();
    return;
  }
  out << "\nFound missing files in " << missing_map.size() << " directories:\n";
  for (const auto& [dir, dates] : missing_map) {
    out << "\nDirectory: " << dir << "\n";
    out << "  Missing " << dates.size() << " day(s):\n";
    for (const auto& range : day_ranges(dates)) out << "    - " << range << "\n";
  }
  out.flush();
}

namespace {

extern "C" void on_interrupt(int) {
  static const char msg[] = "\nKeyboardInterrupt: Operation cancelled by user.\n";
  // Only async-signal-safe calls here.
  ssize_t ignored = ::write(STDOUT_FILENO, msg, sizeof msg - 1);
  (void)ignored;
  ::_exit(1);
}

}  // namespace

void install_interrupt_handler() {
  struct sigaction sa {};
  sa.sa_handler = on_interrupt;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
}

int replica_gap_report_main(int argc, char** argv) {
  install_interrupt_handler();
  CLI::App app{"Check for missing daily files in a directory structure."};
  std::string root, start_text, end_text;
  app.add_option("root_folder", root, "Root folder to scan (containing Plot-XX subfolders)")->required();
  app.add_option("start_date", start_text, "Start date (YYYY-MM-DD)")->required();
  app.add_option("end_date", end_text, "End date (YYYY-MM-DD)")->required();
  Date start{}, end{};
  app.callback([&] {
    // Converters run at parse time so a bad date is a usage error.
    try {
      start = valid_date(start_text);
    } catch (const util::ArgumentTypeError& e) {
      throw util::ArgumentTypeError(std::string("argument start_date: ") + e.what());
    }
    try {
      end = valid_date(end_text);
    } catch (const util::ArgumentTypeError& e) {
      throw util::ArgumentTypeError(std::string("argument end_date: ") + e.what());
    }
  });
  return util::program_main(app, argc, argv, [&] {
    MissingMap missing = check_missing_files_with_validation(root, start, end, std::cout);
    print_report(missing, start, end, std::cout);
    return missing.empty() ? 0 : 1;
  });
}

}  // namespace meterops::cli
