// Days of a replica folder without a daily file. A file's day comes from
// its name (YYYY-MM-DD or YYYYMMDD anywhere in it).
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace meterops::profile_logs::replicas {

using Date = std::chrono::sys_days;

// "2024-01-05".
std::string format_date(Date d);
// Strict "YYYY-MM-DD" with month and day of one or two digits; none when the
// text is anything else or the day does not exist.
std::optional<Date> parse_date(std::string_view text);

// The first valid calendar date written as YYYY-MM-DD or YYYYMMDD in a bare
// file name; none when there is none (2024-02-30 is not a date).
std::optional<Date> extract_date_from_filename(std::string_view name);

// For every immediate subdirectory of `root` (for example Plot-01): the days
// from `start` to `end` inclusive for which no ".csv" file anywhere below it
// carries that date in its name, ascending. Subdirectories with nothing
// missing are left out. ValueError when start is after end or when `root`
// cannot be read as a directory.
std::map<std::string, std::vector<Date>> check_missing_files(const std::filesystem::path& root, Date start, Date end);

namespace detail {
// Walks the tree below `root` and calls `visit` for every entry that is not a
// directory. Links to directories are neither entered nor visited, so link
// loops cannot trap the walk; directories that cannot be listed (or that
// fail part-way) are skipped. Returns false when `root` itself cannot be
// listed.
bool walk_files(const std::filesystem::path& root,
                const std::function<void(const std::filesystem::directory_entry&)>& visit);
}  // namespace detail

}  // namespace meterops::profile_logs::replicas
