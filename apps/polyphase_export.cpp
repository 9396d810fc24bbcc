// polyphase_export --serial S --folder DIR (--day D | --start-day D --end-day D) [--include-statuses]
#include <optional>

#include <CLI/CLI.hpp>

#include "jobs/polyphase_export.hpp"
#include "util/program.hpp"

using namespace meterops;

int main(int argc, char** argv) {
  CLI::App app{"Fetch polyphase_series for day(s) and save as CSV files"};
  jobs::PolyphaseExportOptions o;
  app.add_option("--serial", o.serial, "Meter serial number to fetch intervals for")->required();
  app.add_option("--folder", o.folder, "Folder to save CSV files in")->required();
  auto* day = app.add_option("--day", o.day, "Single day to fetch intervals for (format: YYYY-MM-DD, e.g., 2025-08-01)");
  auto* start = app.add_option("--start-day", o.start_day,
                               "Start day for date range (format: YYYY-MM-DD, e.g., 2025-08-01). Must be used with --end-day");
  app.add_option("--end-day", o.end_day,
                 "End day for date range (format: YYYY-MM-DD, e.g., 2025-08-05). Must be used with --start-day");
  app.add_flag("--include-statuses", o.include_statuses, "Include status information in CSV output");
  day->excludes(start);
  start->excludes(day);
  app.callback([&] {
    if (!o.day && !o.start_day) throw util::UsageError("one of the arguments --day --start-day is required");
    if (o.start_day.has_value() != o.end_day.has_value()) {
      throw util::UsageError("--start-day and --end-day must be used together");
    }
  });
  return util::program_main(app, argc, argv, [&] {
    jobs::PolyphaseExportJob job(o);
    job.fetch_intervals();
    return 0;
  });
}
