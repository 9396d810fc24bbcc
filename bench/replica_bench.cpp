// Replica comparison on two trees of 200,000 daily files each (nested
// Plot/year/month folders), against `find -printf` listing both trees:
// wall time, their ratio, and peak memory of the comparison.
//
//   build/bench/replica_bench [files_per_tree] [work_dir] [--keep]
//
// The trees are built once per run and removed at the end (--keep leaves
// them for the next run, which then reuses them).
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <fmt/format.h>

#include "profile_logs/replicas/replica_diff_tools.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void build_tree(const fs::path& root, long files) {
  if (fs::exists(root / ".complete")) return;
  fs::remove_all(root);
  long per_plot = files / 100;
  for (int p = 0; p < 100; ++p) {
    for (long i = 0; i < per_plot; ++i) {
      int year = 2000 + static_cast<int>(i / 372), month = static_cast<int>(i / 31 % 12) + 1,
          day = static_cast<int>(i % 31) + 1;
      fs::path dir = root / fmt::format("Plot-{:02}", p) / std::to_string(year) / fmt::format("{:02}", month);
      fs::create_directories(dir);
      std::ofstream(dir / fmt::format("meter{}_{}-{:02}-{:02}.csv", p, year, month, day)) << "ts,v\n";
    }
  }
  std::ofstream(root / ".complete") << "";
}

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

}  // namespace

int main(int argc, char** argv) {
  long files = argc > 1 ? std::atol(argv[1]) : 200000;
  fs::path work = argc > 2 ? argv[2] : "/tmp/meterops-replica-bench";
  bool keep = argc > 3 && std::string(argv[3]) == "--keep";
  auto t0 = Clock::now();
  build_tree(work / "a", files);
  build_tree(work / "b", files);
  std::printf("trees ready (%ld files each) in %.1f s\n", files, seconds_since(t0));

  // Warm the caches once so both sides read from memory.
  std::system(fmt::format("find {} {} -type f -name '*.csv' > /dev/null", (work / "a").string(), (work / "b").string()).c_str());

  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  auto t1 = Clock::now();
  auto report = meterops::profile_logs::replicas::compare_replicas(work / "a", work / "b");
  double ours = seconds_since(t1);
  rusage self{};
  getrusage(RUSAGE_SELF, &self);

  auto t2 = Clock::now();
  int rc = std::system(fmt::format("find {} -type f -name '*.csv' -printf '%s %p\\n' > /dev/null && "
                                   "find {} -type f -name '*.csv' -printf '%s %p\\n' > /dev/null",
                                   (work / "a").string(), (work / "b").string())
                           .c_str());
  double find_s = seconds_since(t2);

  std::printf("compare_replicas: %.3f s (%zu + %zu files, %zu identical)\n", ours, report.total_files_1,
              report.total_files_2, report.identical_files);
  std::printf("find -printf x2:  %.3f s (status %d)\n", find_s, rc);
  std::printf("ratio compare/find: %.2f\n", ours / find_s);
  std::printf("peak RSS of the comparison process: %.1f MiB (%.1f MiB before the comparison)\n",
              self.ru_maxrss / 1024.0, before.ru_maxrss / 1024.0);
  // What the two file tables themselves hold: keys, both path texts and
  // the map nodes; the peak should stay close to this.
  auto table_bytes = [](const fs::path& root) {
    auto files = meterops::profile_logs::replicas::scan_replica_folder(root);
    std::size_t bytes = 0;
    for (const auto& [key, info] : files) {
      bytes += 48 + sizeof(info) + key.capacity() + info.relative_path.capacity() + info.absolute_path.capacity();
    }
    return bytes;
  };
  std::printf("file tables (estimate): %.1f MiB\n", (table_bytes(work / "a") + table_bytes(work / "b")) / 1048576.0);
  if (!keep) {
    fs::remove_all(work / "a");
    fs::remove_all(work / "b");
    std::error_code ec;
    fs::remove(work, ec);  // only when nothing else is in it
  }
  return 0;
}
