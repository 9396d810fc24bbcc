#include "util/logging.hpp"

#include <thread>

#include <gtest/gtest.h>

using namespace meterops::util;

TEST(Logging, BindAddsFieldsAndCallFieldsFollow) {
  LogCapture cap;
  auto log = get_logger("tests.logging", __FILE__).bind({{"esco", "abc"}});
  log.bind({{"serial", "123"}}).info("Syncing meter", {{"n", 3}});
  auto recs = cap.find("Syncing meter", Level::info);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].fields.dump(), R"({"esco":"abc","serial":"123","n":3})");
  EXPECT_EQ(recs[0].logger, "tests.logging");
}

TEST(Logging, ConsoleAndJsonForms) {
  LogRecord r{"2026-01-01T00:00:00.000000Z", Level::warning, "m", "event text",
              Fields{{"a", "x y"}, {"b", 2}, {"c", "plain"}}};
  EXPECT_EQ(render_console(r),
            R"(2026-01-01T00:00:00.000000Z [warning] event text logger=m a="x y" b=2 c=plain)");
  auto j = nlohmann::json::parse(render_json(r));
  EXPECT_EQ(j["level"], "warning");
  EXPECT_EQ(j["event"], "event text");
  EXPECT_EQ(j["a"], "x y");
}

TEST(Logging, ThresholdDropsLowerLevels) {
  LogCapture cap;
  auto log = get_logger("tests.logging", __FILE__);
  auto before = log_level();
  set_log_level(Level::warning);
  log.info("quiet");
  log.error("loud");
  set_log_level(before);
  EXPECT_FALSE(cap.contains("quiet"));
  EXPECT_TRUE(cap.contains("loud", Level::error));
}

TEST(Logging, HexIsLowercaseWithoutSeparators) {
  EXPECT_EQ(hex(std::string("\x7e\x00\xAB", 3)), "7e00ab");
}

TEST(Logging, ManyThreadsLoseNoRecord) {
  LogCapture cap;
  auto log = get_logger("tests.logging", __FILE__);
  std::vector<std::thread> ts;
  for (int t = 0; t < 8; ++t) ts.emplace_back([&] {
    for (int i = 0; i < 200; ++i) log.info("tick", {{"i", i}});
  });
  for (auto& t : ts) t.join();
  EXPECT_EQ(cap.find("tick").size(), 1600u);
}
