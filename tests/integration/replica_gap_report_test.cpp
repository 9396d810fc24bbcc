#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "support/process.hpp"

using namespace meterops::testing;
namespace fs = std::filesystem;

namespace {

const std::string kRule(80, '=');

ProcessResult gap_report(const std::vector<std::string>& args) {
  return run_process(bin_path("replica_gap_report"), args);
}

void touch(const fs::path& p) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << "x";
}

}  // namespace

TEST(ReplicaGapReport, ReportsRangesPerDirectoryAndExitsOne) {
  TempDir root;
  fs::path r = root.path();
  for (const char* d : {"01", "02", "06", "07", "08", "10"}) touch(r / "Plot-01" / ("m_2024-01-" + std::string(d) + ".csv"));
  for (int d = 1; d <= 10; ++d) touch(r / "Plot-02" / ("m_202401" + std::string(d < 10 ? "0" : "") + std::to_string(d) + ".csv"));
  touch(r / "Plot-03" / "m_2024-01-01.csv");
  touch(r / "Plot-03" / "m_2024-01-03.csv");
  for (int d = 1; d <= 10; ++d) {
    if (d != 5) touch(r / "A-single" / ("x_2024-01-" + std::string(d < 10 ? "0" : "") + std::to_string(d) + ".csv"));
  }
  auto res = gap_report({root.path(), "2024-1-1", "2024-01-10"});
  EXPECT_EQ(res.status, 1) << res.err;
  EXPECT_EQ(res.out, "\n" + kRule + "\nMISSING FILES REPORT\n" + kRule +
                         "\nDate Range: 2024-01-01 to 2024-01-10\n"
                         "\nFound missing files in 3 directories:\n"
                         "\nDirectory: A-single\n  Missing 1 day(s):\n    - 2024-01-05\n"
                         "\nDirectory: Plot-01\n  Missing 4 day(s):\n    - 2024-01-03 to 2024-01-05\n"
                         "    - 2024-01-09\n"
                         "\nDirectory: Plot-03\n  Missing 8 day(s):\n    - 2024-01-02\n"
                         "    - 2024-01-04 to 2024-01-10\n");
}

TEST(ReplicaGapReport, CleanRunPrintsHeaderAndSuccess) {
  TempDir root;
  touch(fs::path(root.path()) / "Plot-01" / "m_2024-02-29.csv");
  auto res = gap_report({root.path(), "2024-02-29", "2024-02-29"});
  EXPECT_EQ(res.status, 0) << res.err;
  EXPECT_EQ(res.out, "\n" + kRule + "\nMISSING FILES REPORT\n" + kRule +
                         "\nDate Range: 2024-02-29 to 2024-02-29\n"
                         "\nSUCCESS: No missing files found in the scanned directories.\n");
}

TEST(ReplicaGapReport, CommandLineErrors) {
  TempDir root;
  write_file(root.file("plain.txt"), "not a folder");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{root.path(), "2024-13-01", "2024-12-31"}, 2, "", "Invalid date format: 2024-13-01. Use YYYY-MM-DD"},
      {{root.path(), "2024-01-01", "2024-02-30"}, 2, "", "Invalid date format: 2024-02-30. Use YYYY-MM-DD"},
      {{root.path(), "24-01-01", "2024-02-01"}, 2, "", "Invalid date format: 24-01-01. Use YYYY-MM-DD"},
      {{root.path(), "2024-01-01"}, 2, "", "usage:"},
      {{root.path(), "2024-01-01", "2024-01-02", "extra"}, 2, "", "usage:"},
      {{"/nonexistent/root", "2024-01-01", "2024-01-02"}, 2,
       "Error: Root folder does not exist: /nonexistent/root\n", ""},
      {{root.path(), "2024-01-05", "2024-01-01"}, 1, "", "start date 2024-01-05 is after end date 2024-01-01"},
      {{root.file("plain.txt"), "2024-01-01", "2024-01-02"}, 1, "", "cannot read root folder " + root.file("plain.txt")},
  };
  for (const auto& c : cases) {
    auto res = gap_report(c.args);
    EXPECT_EQ(res.status, c.status) << c.args[1] << res.err;
    EXPECT_EQ(res.out, c.out) << c.args[1];
    EXPECT_NE(res.err.find(c.err), std::string::npos) << res.err;
  }
}
