#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "profile_logs/replicas/replica_diff_tools.hpp"
#include "profile_logs/replicas/replica_missing_file_utils.hpp"
#include "support/process.hpp"
#include "util/errors.hpp"

using namespace meterops::profile_logs::replicas;
namespace fs = std::filesystem;

namespace {

Date day(const char* text) { return *parse_date(text); }

void put(const fs::path& path, std::size_t size) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << std::string(size, 'x');
}

}  // namespace

TEST(ReplicaDates, ExtractFromFileNames) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"plot_2024-01-05.csv", "2024-01-05"},   {"20240105_meter.csv", "2024-01-05"},
      {"x2024-02-30_2024-03-01.csv", "2024-03-01"}, {"a-123420240101.csv", "2024-01-01"},
      {"2024-1-5.csv", nullptr},               {"2024-02-30.csv", nullptr},
      {"none.csv", nullptr},                   {"2023-02-29.csv", nullptr},
      {"2024-02-29.csv", "2024-02-29"},
  };
  for (const auto& [name, want] : cases) {
    auto got = extract_date_from_filename(name);
    if (want) {
      ASSERT_TRUE(got.has_value()) << name;
      EXPECT_EQ(format_date(*got), want) << name;
    } else {
      EXPECT_FALSE(got.has_value()) << name;
    }
  }
}

TEST(ReplicaGaps, ReportsMissingDaysPerSubdirectory) {
  meterops::testing::TempDir root;
  fs::path r = root.path();
  put(r / "Plot-01/2024/01/p_2024-01-01.csv", 1);
  put(r / "Plot-01/2024/01/p_2024-01-02.csv", 1);
  put(r / "Plot-01/2024/01/p_2024-01-03.csv", 1);
  put(r / "Plot-02/p_20240102.csv", 1);
  put(r / "Plot-02/p_2024-01-01.CSV", 1);   // wrong case: does not count
  put(r / "Plot-02/p_2024-01-03.txt", 1);   // not a CSV
  put(r / "stray_2024-01-01.csv", 1);       // not in a subdirectory
  auto missing = check_missing_files(r, day("2024-01-01"), day("2024-01-03"));
  ASSERT_EQ(missing.size(), 1u);  // Plot-01 is complete
  EXPECT_EQ(missing["Plot-02"], (std::vector<Date>{day("2024-01-01"), day("2024-01-03")}));
}

TEST(ReplicaGaps, StartAfterEndIsAValueError) {
  meterops::testing::TempDir root;
  try {
    check_missing_files(root.path(), day("2024-01-05"), day("2024-01-01"));
    ADD_FAILURE();
  } catch (const meterops::util::ValueError& e) {
    EXPECT_STREQ(e.what(), "start date 2024-01-05 is after end date 2024-01-01");
  }
}

TEST(ReplicaDiff, DateRange) {
  auto d = day("2024-01-05");
  EXPECT_TRUE(is_within_date_range(std::nullopt, std::nullopt, std::nullopt));
  EXPECT_FALSE(is_within_date_range(std::nullopt, d, std::nullopt));
  EXPECT_TRUE(is_within_date_range(d, d, d));
  EXPECT_FALSE(is_within_date_range(day("2024-01-04"), d, std::nullopt));
  EXPECT_FALSE(is_within_date_range(day("2024-01-06"), std::nullopt, d));
}

TEST(ReplicaDiff, ComparesByRelativePathAndSize) {
  meterops::testing::TempDir a, b;
  put(fs::path(a.path()) / "Plot-01/m_2024-01-01.csv", 100);
  put(fs::path(b.path()) / "Plot-01/m_2024-01-01.csv", 80);
  put(fs::path(a.path()) / "Plot-01/m_2024-01-02.csv", 5);
  put(fs::path(b.path()) / "Plot-01/m_2024-01-02.csv", 5);
  put(fs::path(a.path()) / "Plot-01/only_a.csv", 1);
  put(fs::path(b.path()) / "Plot-02/m_2024-01-02.csv", 5);  // same name, other folder
  put(fs::path(b.path()) / "Plot-02/upper_2024-01-02.CSV", 5);
  fs::create_directory_symlink(a.path(), fs::path(b.path()) / "loop");  // never followed

  auto r = compare_replicas(a.path(), b.path());
  EXPECT_EQ(r.total_files_1, 3u);
  EXPECT_EQ(r.total_files_2, 3u);
  ASSERT_EQ(r.only_in_folder_1.size(), 1u);
  EXPECT_EQ(r.only_in_folder_1[0].relative_path, "Plot-01/only_a.csv");
  EXPECT_EQ(r.only_in_folder_1[0].absolute_path, a.path() + "/Plot-01/only_a.csv");
  ASSERT_EQ(r.only_in_folder_2.size(), 1u);
  EXPECT_EQ(r.only_in_folder_2[0].relative_path, "Plot-02/m_2024-01-02.csv");
  ASSERT_EQ(r.different_files.size(), 1u);
  EXPECT_EQ(r.different_files[0].size_1, 100u);
  EXPECT_EQ(r.different_files[0].size_2, 80u);
  EXPECT_EQ(r.different_files[0].size_diff, -20);
  EXPECT_EQ(r.identical_files, 1u);

  // A start date drops the undated file and the earlier day.
  auto ranged = compare_replicas(a.path(), b.path(), day("2024-01-02"));
  EXPECT_EQ(ranged.total_files_1, 1u);
  EXPECT_TRUE(ranged.only_in_folder_1.empty());
  EXPECT_EQ(ranged.identical_files, 1u);
}

TEST(ReplicaDiff, MissingFoldersAreEmptyReplicasAndBrokenLinksHaveSizeZero) {
  meterops::testing::TempDir a;
  auto empty = compare_replicas("/nonexistent/one", "/nonexistent/two");
  EXPECT_EQ(empty.total_files_1 + empty.total_files_2 + empty.identical_files, 0u);
  fs::create_symlink("/nonexistent/target.csv", fs::path(a.path()) / "dangling_2024-01-01.csv");
  auto files = scan_replica_folder(a.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files.begin()->second.size, 0u);
  auto r = compare_replicas(a.path(), "/nonexistent/two");
  EXPECT_EQ(r.only_in_folder_1.size(), 1u);
}

TEST(ReplicaWalk, LinkLoopsEndAndLinkedFilesCount) {
  meterops::testing::TempDir a;
  fs::path r = a.path();
  put(r / "P/deep/m_2024-01-01.csv", 7);
  fs::create_directory_symlink(r / "P", r / "P/deep/back");  // a loop
  fs::create_symlink(r / "P/deep/m_2024-01-01.csv", r / "P/link_2024-01-02.csv");
  auto files = scan_replica_folder(r);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files.at("P/link_2024-01-02.csv").size, 7u);  // the target's size
  EXPECT_EQ(files.at("P/deep/m_2024-01-01.csv").size, 7u);

  auto missing = check_missing_files(r, day("2024-01-01"), day("2024-01-03"));
  EXPECT_EQ(missing["P"], (std::vector<Date>{day("2024-01-03")}));
}

TEST(ReplicaGaps, RootThatIsNotAFolderIsAnError) {
  meterops::testing::TempDir a;
  put(fs::path(a.path()) / "file.csv", 1);
  EXPECT_THROW(check_missing_files(fs::path(a.path()) / "file.csv", day("2024-01-01"), day("2024-01-02")),
               meterops::util::ValueError);
  EXPECT_THROW(check_missing_files(fs::path(a.path()) / "missing", day("2024-01-01"), day("2024-01-02")),
               meterops::util::ValueError);
}
