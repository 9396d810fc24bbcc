#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/process.hpp"

using namespace meterops::testing;
namespace fs = std::filesystem;

namespace {
void put(const fs::path& p, std::size_t size) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << std::string(size, 'x');
}
}  // namespace

TEST(ReplicaDiffProgram, MatchDifferAndUsage) {
  TempDir a, b;
  put(fs::path(a.path()) / "P/m_2024-01-01.csv", 10);
  put(fs::path(b.path()) / "P/m_2024-01-01.csv", 10);
  auto same = run_process(bin_path("replica_diff"), {a.path(), b.path()});
  EXPECT_EQ(same.status, 0) << same.err;
  EXPECT_NE(same.out.find("Replicas match."), std::string::npos) << same.out;

  put(fs::path(b.path()) / "P/m_2024-01-02.csv", 3);
  put(fs::path(a.path()) / "P/m_2024-01-01.csv", 12);
  auto differ = run_process(bin_path("replica_diff"), {a.path(), b.path(), "--json"});
  EXPECT_EQ(differ.status, 1) << differ.err;
  auto j = nlohmann::json::parse(differ.out);
  EXPECT_EQ(j["only_in_folder_2"][0]["relative_path"], "P/m_2024-01-02.csv");
  EXPECT_EQ(j["different_files"][0]["size_diff"], -2);
  EXPECT_EQ(j["match"], false);

  auto ranged = run_process(bin_path("replica_diff"), {a.path(), b.path(), "--end-date", "2024-01-01"});
  EXPECT_EQ(ranged.status, 1);
  EXPECT_NE(ranged.out.find("P/m_2024-01-01.csv: 12 -> 10 bytes (-2)"), std::string::npos) << ranged.out;

  auto bad = run_process(bin_path("replica_diff"), {a.path(), b.path(), "--start-date", "2024-02-30"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("Invalid date format: 2024-02-30. Use YYYY-MM-DD"), std::string::npos) << bad.err;
  EXPECT_EQ(run_process(bin_path("replica_diff"), {a.path()}).status, 2);
}

TEST(ReplicaDiffProgram, RefusesWhatWouldFalselyMatch) {
  TempDir a, b;
  put(fs::path(a.path()) / "P/m_2024-01-01.csv", 10);
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{a.path(), b.path(), "--start-date", "2024-01-05", "--end-date", "2024-01-01"},
       "start date 2024-01-05 is after end date 2024-01-01"},
      {{a.path() + "/typo", b.path()}, "not a folder: " + a.path() + "/typo"},
      {{a.path(), b.path() + "/P/m_2024-01-01.csv"}, "not a folder: "},
  };
  for (const auto& c : cases) {
    auto res = run_process(bin_path("replica_diff"), c.args);
    EXPECT_EQ(res.status, 2) << res.out;
    EXPECT_NE(res.err.find(c.err), std::string::npos) << res.err;
    EXPECT_EQ(res.out, "");
  }
}
