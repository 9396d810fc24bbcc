#include "profile_logs/replicas/replica_missing_file_utils.hpp"

#include <set>
#include <system_error>

#include <fmt/format.h>

#include "util/errors.hpp"

namespace meterops::profile_logs::replicas {

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

int num(std::string_view s, std::size_t at, std::size_t n) {
  int v = 0;
  for (std::size_t i = at; i < at + n; ++i) v = v * 10 + (s[i] - '0');
  return v;
}

std::optional<Date> make_date(int y, int m, int d) {
  year_month_day ymd{year{y}, month{static_cast<unsigned>(m)}, day{static_cast<unsigned>(d)}};
  if (!ymd.ok()) return std::nullopt;
  return sys_days(ymd);
}

bool all_digits(std::string_view s, std::size_t at, std::size_t n) {
  for (std::size_t i = at; i < at + n; ++i) {
    if (!digit(s[i])) return false;
  }
  return true;
}

}  // namespace

std::string format_date(Date d) {
  year_month_day ymd{d};
  return fmt::format("{:04}-{:02}-{:02}", static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                     static_cast<unsigned>(ymd.day()));
}

std::optional<Date> parse_date(std::string_view t) {
  if (t.size() < 8 || !all_digits(t, 0, 4) || t[4] != '-') return std::nullopt;
  std::size_t i = 5;
  auto part = [&](int& out) {
    std::size_t start = i;
    while (i < t.size() && digit(t[i]) && i - start < 2) ++i;
    if (i == start) return false;
    out = num(t, start, i - start);
    return true;
  };
  int m = 0, d = 0;
  if (!part(m) || i >= t.size() || t[i] != '-') return std::nullopt;
  ++i;
  if (!part(d) || i != t.size()) return std::nullopt;
  return make_date(num(t, 0, 4), m, d);
}

std::optional<Date> extract_date_from_filename(std::string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (i + 10 <= s.size() && all_digits(s, i, 4) && s[i + 4] == '-' && all_digits(s, i + 5, 2) &&
        s[i + 7] == '-' && all_digits(s, i + 8, 2)) {
      if (auto d = make_date(num(s, i, 4), num(s, i + 5, 2), num(s, i + 8, 2))) return d;
    }
    if (i + 8 <= s.size() && all_digits(s, i, 8)) {
      if (auto d = make_date(num(s, i, 4), num(s, i + 4, 2), num(s, i + 6, 2))) return d;
    }
  }
  return std::nullopt;
}

namespace detail {

bool walk_files(const fs::path& root, const std::function<void(const fs::directory_entry&)>& visit) {
  std::vector<fs::path> pending{root};
  bool root_listed = false;
  while (!pending.empty()) {
    fs::path dir = std::move(pending.back());
    pending.pop_back();
    std::error_code ec;
    fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
    if (ec) continue;  // unreadable: skipped
    if (dir == root) root_listed = true;
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
      std::error_code sec;
      const fs::directory_entry& entry = *it;
      if (entry.is_symlink(sec)) {
        std::error_code tec;
        if (entry.is_directory(tec)) continue;  // a link to a directory: not followed
      } else if (entry.is_directory(sec)) {
        pending.push_back(entry.path());
        continue;
      }
      visit(entry);
    }
    // ec set here means the listing broke off part-way: keep what was seen.
  }
  return root_listed;
}

}  // namespace detail

std::map<std::string, std::vector<Date>> check_missing_files(const fs::path& root, Date start, Date end) {
  if (start > end) {
    throw util::ValueError("start date " + format_date(start) + " is after end date " + format_date(end));
  }
  std::error_code ec;
  fs::directory_iterator top(root, ec);
  if (ec) throw util::ValueError("cannot read root folder " + root.string() + ": " + ec.message());
  std::vector<fs::path> subdirs;
  for (fs::directory_iterator stop; top != stop; top.increment(ec)) {
    std::error_code dec;
    if (top->is_directory(dec)) subdirs.push_back(top->path());
  }
  if (ec) throw util::ValueError("cannot read root folder " + root.string() + ": " + ec.message());

  std::map<std::string, std::vector<Date>> missing;
  for (const auto& sub : subdirs) {
    std::set<Date> present;
    detail::walk_files(sub, [&](const fs::directory_entry& entry) {
      std::string name = entry.path().filename().string();
      if (name.size() < 4 || name.compare(name.size() - 4, 4, ".csv") != 0) return;
      if (auto d = extract_date_from_filename(name); d && *d >= start && *d <= end) present.insert(*d);
    });
    std::vector<Date> gaps;
    for (Date d = start; d <= end; d += days{1}) {
      if (!present.count(d)) gaps.push_back(d);
    }
    if (!gaps.empty()) missing.emplace(sub.filename().string(), std::move(gaps));
  }
  return missing;
}

}  // namespace meterops::profile_logs::replicas
