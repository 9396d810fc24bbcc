#include "profile_logs/fetcher_settings.hpp"

#include <sstream>

#include <gtest/gtest.h>

#include "support/process.hpp"

using namespace meterops::profile_logs;

namespace {

struct CoutCapture {
  std::ostringstream out;
  std::streambuf* old = std::cout.rdbuf(out.rdbuf());
  ~CoutCapture() { std::cout.rdbuf(old); }
};

FetcherSettings from_text(const std::string& text) { return FetcherSettings(parse_properties(text)); }

}  // namespace

TEST(FetcherSettings, OnlyRootFolderGivesDefaultsAndTheNotice) {
  CoutCapture cap;
  auto s = from_text("rootfolder=/data/logs\n");
  EXPECT_EQ(cap.out.str(), "sleepseconds not set - defaulting to 5 seconds\n");
  EXPECT_EQ(s.get_root_folder(), "/data/logs");
  EXPECT_EQ(s.get_sleep_seconds(), 5);
  EXPECT_FALSE(s.get_test_mode());
  EXPECT_FALSE(s.get_esco().has_value());
  EXPECT_TRUE(s.get_groups().empty());
}

TEST(FetcherSettings, GlobalValues) {
  struct Case {
    std::string text;
    std::int64_t sleep;
    bool notice;
    bool test_mode;
  };
  const std::vector<Case> cases = {
      {"rootfolder=r\nsleepseconds=  7  \ntestmode=yes", 7, false, true},
      {"rootfolder=r\nsleepseconds=   \ntestmode=Yes", 5, true, false},
      {"rootfolder=r\nsleepseconds=-3\ntestmode=no", -3, false, false},
      {"rootfolder=r\nsleepseconds=+2", 2, false, false},
  };
  for (const auto& c : cases) {
    CoutCapture cap;
    auto s = from_text(c.text);
    EXPECT_EQ(s.get_sleep_seconds(), c.sleep) << c.text;
    EXPECT_EQ(!cap.out.str().empty(), c.notice) << c.text;
    EXPECT_EQ(s.get_test_mode(), c.test_mode) << c.text;
  }
}

TEST(FetcherSettings, BlankRootFolderIsAcceptedAsAPath) {
  Properties p;
  p.set("rootfolder", "   ");
  p.set("sleepseconds", "1");
  EXPECT_EQ(FetcherSettings(p).get_root_folder(), "   ");
}

TEST(FetcherSettings, Errors) {
  for (const char* text : {"sleepseconds=3", "rootfolder=\n"}) {
    try {
      from_text(text);
      ADD_FAILURE() << text;
    } catch (const ConfigException& e) {
      EXPECT_STREQ(e.what(), "no rootfolder property set - specify a rootfolder to download the files to");
    }
  }
  for (const char* text : {"rootfolder=r\nsleepseconds=1.5", "rootfolder=r\nsleepseconds=five",
                           "rootfolder=r\nsleepseconds=+-5", "rootfolder=r\nsleepseconds=+"}) {
    EXPECT_THROW(from_text(text), meterops::util::ValueError) << text;
  }
  EXPECT_ANY_THROW(FetcherSettings::get_instance("/nonexistent/fetcher.properties"));
}

TEST(FetcherSettings, GroupsAndDefaults) {
  CoutCapture cap;
  auto s = from_text(
      "rootfolder=/r\nesco=acme\nnorth.folder=N\ndefault.retries=3\ndefault.folder=D\n"
      "south.folder=S\nsouth.retries=9\nnorth.mode=fast\na.folder.folder=A\nx.default.default.y=1\n");
  EXPECT_EQ(s.get_esco(), "acme");
  auto names = FetcherSettings::group_names_from_properties(parse_properties(
      "north.folder=N\ndefault.folder=D\nsouth.folder=S\na.folder.folder=A"));
  EXPECT_EQ(names, (std::vector<std::string>{"north", "default", "south", "a"}));
  const auto& groups = s.get_groups();
  ASSERT_EQ(groups.size(), 4u);
  EXPECT_EQ(groups[0].first, "north");
  EXPECT_EQ(groups[0].second.folder, "N");
  EXPECT_EQ(groups[0].second.get("retries"), "3");  // from the defaults
  EXPECT_EQ(groups[0].second.get("mode"), "fast");
  EXPECT_EQ(groups[2].first, "south");
  EXPECT_EQ(groups[2].second.get("retries"), "9");  // its own wins
  auto defaults = FetcherSettings::defaults_from_properties(
      parse_properties("default.retries=3\ndefault.folder=D\ndefault.x.default.y=1\nother=2"));
  EXPECT_EQ(defaults.entries(),
            (std::vector<std::pair<std::string, std::string>>{{"retries", "3"}, {"folder", "D"}, {"x.y", "1"}}));
}

TEST(FetcherSettings, ReadsTheFileAfreshEachTime) {
  meterops::testing::TempDir dir;
  std::string path = dir.file("downloader.properties");
  meterops::testing::write_file(path, "rootfolder=/one\nsleepseconds=1\n");
  EXPECT_EQ(FetcherSettings::get_instance(path).get_root_folder(), "/one");
  meterops::testing::write_file(path, "rootfolder=/two\nsleepseconds=1\n");
  EXPECT_EQ(FetcherSettings::get_instance(path).get_root_folder(), "/two");
}
