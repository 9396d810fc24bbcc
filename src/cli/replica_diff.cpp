#include "cli/replica_diff.hpp"

#include <filesystem>
#include <iostream>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/replica_gap_report.hpp"
#include "util/program.hpp"

namespace meterops::cli {

using profile_logs::replicas::ComparisonReport;
using profile_logs::replicas::FileInfo;
using profile_logs::replicas::format_date;

void print_comparison_text(const ComparisonReport& r, const std::string& folder_1, const std::string& folder_2,
                           std::ostream& out) {
  out << "Folder 1: " << folder_1 << " (" << r.total_files_1 << " files)\n";
  out << "Folder 2: " << folder_2 << " (" << r.total_files_2 << " files)\n";
  auto list = [&](const char* title, const std::vector<FileInfo>& files) {
    out << "\n" << title << " (" << files.size() << "):\n";
    for (const auto& f : files) out << "  " << f.relative_path << " (" << f.size << " bytes)\n";
  };
  list("Only in folder 1", r.only_in_folder_1);
  list("Only in folder 2", r.only_in_folder_2);
  out << "\nDifferent sizes (" << r.different_files.size() << "):\n";
  for (const auto& d : r.different_files) {
    out << "  " << d.relative_path << ": " << d.size_1 << " -> " << d.size_2 << " bytes ("
        << (d.size_diff > 0 ? "+" : "") << d.size_diff << ")\n";
  }
  out << "\nIdentical files: " << r.identical_files << "\n";
  out << (r.matches() ? "Replicas match.\n" : "Replicas differ.\n");
  out.flush();
}

void print_comparison_json(const ComparisonReport& r, const std::string& folder_1, const std::string& folder_2,
                           std::ostream& out) {
  using Json = nlohmann::ordered_json;
  auto info = [](const FileInfo& f) {
    return Json{{"relative_path", f.relative_path},
                {"absolute_path", f.absolute_path},
                {"size", f.size},
                {"date", f.date ? Json(format_date(*f.date)) : Json(nullptr)}};
  };
  Json j = Json::object();
  j["folder_1"] = folder_1;
  j["folder_2"] = folder_2;
  j["only_in_folder_1"] = Json::array();
  for (const auto& f : r.only_in_folder_1) j["only_in_folder_1"].push_back(info(f));
  j["only_in_folder_2"] = Json::array();
  for (const auto& f : r.only_in_folder_2) j["only_in_folder_2"].push_back(info(f));
  j["different_files"] = Json::array();
  for (const auto& d : r.different_files) {
    j["different_files"].push_back(
        {{"relative_path", d.relative_path}, {"size_1", d.size_1}, {"size_2", d.size_2}, {"size_diff", d.size_diff}});
  }
  j["identical_files"] = r.identical_files;
  j["total_files_1"] = r.total_files_1;
  j["total_files_2"] = r.total_files_2;
  j["match"] = r.matches();
  out << j.dump(2, ' ', false, Json::error_handler_t::replace) << std::endl;
}

int replica_diff_main(int argc, char** argv) {
  CLI::App app{"Compare two replica folders of daily CSV files."};
  std::string folder_1, folder_2, start_text, end_text;
  bool json = false;
  app.add_option("folder_1", folder_1, "First replica folder")->required();
  app.add_option("folder_2", folder_2, "Second replica folder")->required();
  app.add_option("--start-date", start_text, "Only files dated on or after this day (YYYY-MM-DD)");
  app.add_option("--end-date", end_text, "Only files dated on or before this day (YYYY-MM-DD)");
  app.add_flag("--json", json, "Print the report as JSON");
  std::optional<Date> start, end;
  app.callback([&] {
    auto convert = [](const std::string& text, const char* option) {
      try {
        return valid_date(text);
      } catch (const util::ArgumentTypeError& e) {
        throw util::ArgumentTypeError(std::string("argument ") + option + ": " + e.what());
      }
    };
    if (!start_text.empty()) start = convert(start_text, "--start-date");
    if (!end_text.empty()) end = convert(end_text, "--end-date");
    // An empty range would filter every file out and report a match.
    if (start && end && *start > *end) {
      throw util::UsageError("start date " + format_date(*start) + " is after end date " + format_date(*end));
    }
    // A mistyped folder would otherwise compare as an empty replica.
    for (const auto* folder : {&folder_1, &folder_2}) {
      std::error_code ec;
      if (!std::filesystem::is_directory(*folder, ec)) throw util::UsageError("not a folder: " + *folder);
    }
  });
  return util::program_main(app, argc, argv, [&] {
    auto report = profile_logs::replicas::compare_replicas(folder_1, folder_2, start, end);
    if (json) {
      print_comparison_json(report, folder_1, folder_2, std::cout);
    } else {
      print_comparison_text(report, folder_1, folder_2, std::cout);
    }
    return report.matches() ? 0 : 1;
  });
}

}  // namespace meterops::cli
