#include "profile_logs/replicas/replica_diff_tools.hpp"

namespace meterops::profile_logs::replicas {

namespace fs = std::filesystem;

bool is_within_date_range(std::optional<Date> file_date, std::optional<Date> start_date,
                          std::optional<Date> end_date) {
  if (!start_date && !end_date) return true;
  if (!file_date) return false;
  if (start_date && *file_date < *start_date) return false;
  if (end_date && *file_date > *end_date) return false;
  return true;
}

std::map<std::string, FileInfo> scan_replica_folder(const fs::path& base_path, std::optional<Date> start_date,
                                                    std::optional<Date> end_date) {
  std::map<std::string, FileInfo> files;
  std::error_code ec;
  if (!fs::exists(base_path, ec)) return files;
  detail::walk_files(base_path, [&](const fs::directory_entry& entry) {
    const fs::path& path = entry.path();
    std::string name = path.filename().string();
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".csv") != 0) return;
    auto file_date = extract_date_from_filename(name);
    if (!is_within_date_range(file_date, start_date, end_date)) return;
    std::error_code sec;
    std::uintmax_t size = fs::file_size(path, sec);  // follows links
    if (sec) size = 0;
    std::string relative = path.lexically_relative(base_path).string();
    std::string absolute = path.string();
    files.emplace(relative, FileInfo{relative, std::move(absolute), size, file_date});
  });
  return files;
}

ComparisonReport compare_replicas(const fs::path& folder_1, const fs::path& folder_2, std::optional<Date> start_date,
                                  std::optional<Date> end_date) {
  auto files_1 = scan_replica_folder(folder_1, start_date, end_date);
  auto files_2 = scan_replica_folder(folder_2, start_date, end_date);
  ComparisonReport r;
  r.total_files_1 = files_1.size();
  r.total_files_2 = files_2.size();
  // Both maps are ordered by relative path: one merge pass.
  auto a = files_1.begin(), b = files_2.begin();
  while (a != files_1.end() || b != files_2.end()) {
    if (b == files_2.end() || (a != files_1.end() && a->first < b->first)) {
      r.only_in_folder_1.push_back(std::move(a->second));
      ++a;
    } else if (a == files_1.end() || b->first < a->first) {
      r.only_in_folder_2.push_back(std::move(b->second));
      ++b;
    } else {
      if (a->second.size != b->second.size) {
        r.different_files.push_back(FileDifference{a->first, a->second.size, b->second.size,
                                                   static_cast<std::intmax_t>(b->second.size) -
                                                       static_cast<std::intmax_t>(a->second.size)});
      } else {
        ++r.identical_files;
      }
      ++a;
      ++b;
    }
  }
  return r;
}

}  // namespace meterops::profile_logs::replicas
