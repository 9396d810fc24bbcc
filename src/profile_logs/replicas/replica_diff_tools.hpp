// Compares two replica folders of daily CSV files: files only in one, files
// in both with different sizes, and the count of files of equal size.
// Contents are not compared. Optionally limited to a range of file-name
// dates (inclusive; files without a date drop out once a bound is given).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "profile_logs/replicas/replica_missing_file_utils.hpp"

namespace meterops::profile_logs::replicas {

struct FileInfo {
  std::string relative_path;  // the key: path below the scanned root
  std::string absolute_path;  // walked directory joined with the name
  std::uintmax_t size = 0;    // 0 when the status cannot be read
  std::optional<Date> date;
};

struct FileDifference {
  std::string relative_path;
  std::uintmax_t size_1 = 0;
  std::uintmax_t size_2 = 0;
  std::intmax_t size_diff = 0;  // size_2 - size_1
};

struct ComparisonReport {
  std::vector<FileInfo> only_in_folder_1;
  std::vector<FileInfo> only_in_folder_2;
  std::vector<FileDifference> different_files;
  std::size_t identical_files = 0;
  std::size_t total_files_1 = 0;
  std::size_t total_files_2 = 0;

  bool matches() const { return only_in_folder_1.empty() && only_in_folder_2.empty() && different_files.empty(); }
};

bool is_within_date_range(std::optional<Date> file_date, std::optional<Date> start_date,
                          std::optional<Date> end_date);

// Every ".csv" file below `base_path` (case-sensitive suffix), keyed and
// ordered by relative path. A missing folder is an empty replica; unreadable
// directories are skipped; directory links are not followed.
std::map<std::string, FileInfo> scan_replica_folder(const std::filesystem::path& base_path,
                                                    std::optional<Date> start_date = std::nullopt,
                                                    std::optional<Date> end_date = std::nullopt);

ComparisonReport compare_replicas(const std::filesystem::path& folder_1, const std::filesystem::path& folder_2,
                                  std::optional<Date> start_date = std::nullopt,
                                  std::optional<Date> end_date = std::nullopt);

}  // namespace meterops::profile_logs::replicas
