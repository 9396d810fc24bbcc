#include <random>

#include <gtest/gtest.h>

#include "smip/smip_reading_builder.hpp"
#include "util/errors.hpp"

using namespace meterops;
using namespace std::chrono;
using vantor::codec::DateTime;
using vantor::codec::parse_iso;
using vantor::codec::VexoProfileLog1Record;
using vantor::codec::VexoProfileLog2Record;

namespace {
DateTime at(const char* iso) { return parse_iso(iso); }
}  // namespace

TEST(SmipReadings, OneDayVisits48StepsAndNeverTheEnd) {
  smip::Log1Records l1;
  for (auto t = at("2024-01-01T00:00:00Z"); t <= at("2024-01-02T00:00:00Z"); t += minutes(30)) {
    l1[t] = VexoProfileLog1Record{0, 1.0, 2.0};
  }
  auto [a, b] = smip::create_smip_readings("S1", at("2024-01-01T00:00:00Z"), at("2024-01-02T00:00:00Z"), l1, {});
  ASSERT_EQ(a.size(), 48u);
  EXPECT_EQ(a.front().timestamp, at("2024-01-01T00:00:00Z"));
  EXPECT_EQ(a.back().timestamp, at("2024-01-01T23:30:00Z"));
  EXPECT_TRUE(b.empty());  // single element meter
  for (const auto& r : a) {
    EXPECT_EQ(r.register_, 1);
    EXPECT_EQ(r.errorCode, 0);
    EXPECT_EQ(r.imp, 1.0);
    EXPECT_FALSE(r.exp.has_value());
  }
}

TEST(SmipReadings, PairsRecordsPerElementAndSkipsOffGridKeys) {
  smip::Log1Records l1{{at("2024-01-01T00:00:00Z"), {0, 10, 20}}, {at("2024-01-01T00:15:00Z"), {0, 99, 99}}};
  smip::Log2Records l2{{at("2024-01-01T00:00:00Z"), {0, 1, 2}}, {at("2024-01-01T00:30:00Z"), {0, 3, 4}}};
  auto [a, b] = smip::create_smip_readings("S1", at("2024-01-01T00:00:00Z"), at("2024-01-01T01:00:00Z"), l1, l2,
                                           /*is_twin_element=*/true);
  ASSERT_EQ(a.size(), 2u);
  ASSERT_EQ(b.size(), 2u);
  EXPECT_EQ(a[0].imp, 10.0);
  EXPECT_EQ(a[0].exp, 1.0);
  EXPECT_EQ(b[0].imp, 20.0);
  EXPECT_EQ(b[0].exp, 2.0);
  EXPECT_FALSE(a[1].imp.has_value());  // log 2 only at 00:30
  EXPECT_EQ(a[1].exp, 3.0);
  EXPECT_EQ(b[1].exp, 4.0);
}

TEST(SmipReadings, EmptyOrReversedRangeAndBadStep) {
  smip::Log1Records l1{{at("2024-01-01T00:00:00Z"), {0, 1, 1}}};
  auto [a, b] = smip::create_smip_readings("S", at("2024-01-01T00:00:00Z"), at("2024-01-01T00:00:00Z"), l1, {});
  EXPECT_TRUE(a.empty());
  auto [c, d] = smip::create_smip_readings("S", at("2024-01-02T00:00:00Z"), at("2024-01-01T00:00:00Z"), l1, {});
  EXPECT_TRUE(c.empty());
  for (int step : {0, -30}) {
    EXPECT_THROW(smip::create_smip_readings("S", at("2024-01-01T00:00:00Z"), at("2024-01-02T00:00:00Z"), l1, {},
                                            false, step),
                 util::ValueError);
  }
}

TEST(SmipReadings, CustomStepAndBothElementsOfOneTimestampShareTheirRecords) {
  smip::Log1Records l1{{at("2024-01-01T00:15:00Z"), {0, 1, 2}}, {at("2024-01-01T00:20:00Z"), {0, 5, 5}}};
  smip::Log2Records l2{{at("2024-01-01T00:45:00Z"), {0, 3, 4}}};
  auto [a, b] = smip::create_smip_readings("S2", at("2024-01-01T00:00:00Z"), at("2024-01-01T01:00:00Z"), l1, l2, true,
                                           15);
  const std::vector<smip::SMIPReading> want_a = {
      {"S2", 1, at("2024-01-01T00:15:00Z"), 1.0, std::nullopt, 0},
      {"S2", 1, at("2024-01-01T00:45:00Z"), std::nullopt, 3.0, 0},
  };
  const std::vector<smip::SMIPReading> want_b = {
      {"S2", 1, at("2024-01-01T00:15:00Z"), 2.0, std::nullopt, 0},
      {"S2", 1, at("2024-01-01T00:45:00Z"), std::nullopt, 4.0, 0},
  };
  EXPECT_EQ(a, want_a);
  EXPECT_EQ(b, want_b);
}

TEST(SmipReadings, OneReadingEvenWithoutRecords) {
  auto r = smip::create_smip_reading_from_profile("S3", at("2024-01-01T00:00:00Z"), std::nullopt, std::nullopt, false);
  EXPECT_EQ(r, (smip::SMIPReading{"S3", 1, at("2024-01-01T00:00:00Z"), std::nullopt, std::nullopt, 0}));
}

// The readings must be exactly those of stepping through every time stamp of
// the range, whatever the records' placement on or off the grid.
TEST(SmipReadings, SameReadingsAsAStepByStepWalk) {
  std::mt19937 rng(7);
  const DateTime base = at("2024-03-30T00:00:00Z");
  for (int round = 0; round < 50; ++round) {
    const int step = 1 + static_cast<int>(rng() % 60);
    const DateTime start = base + minutes(rng() % 120);
    const DateTime end = start + minutes(rng() % 600);
    smip::Log1Records l1;
    smip::Log2Records l2;
    for (int k = 0; k < 40; ++k) {
      const DateTime key = base + minutes(rng() % 800) + seconds(rng() % 4 == 0 ? 30 : 0);
      if (rng() % 2) l1[key] = {0, double(k), double(k + 100)};
      if (rng() % 2) l2[key] = {0, double(k + 200), double(k + 300)};
    }
    std::vector<smip::SMIPReading> want_a, want_b;
    for (DateTime t = start; t < end; t += minutes(step)) {
      std::optional<VexoProfileLog1Record> r1;
      std::optional<VexoProfileLog2Record> r2;
      if (l1.count(t)) r1 = l1.at(t);
      if (l2.count(t)) r2 = l2.at(t);
      if (!r1 && !r2) continue;
      want_a.push_back(smip::create_smip_reading_from_profile("S", t, r1, r2, true));
      want_b.push_back(smip::create_smip_reading_from_profile("S", t, r1, r2, false));
    }
    auto [a, b] = smip::create_smip_readings("S", start, end, l1, l2, true, step);
    EXPECT_EQ(a, want_a) << "round " << round;
    EXPECT_EQ(b, want_b) << "round " << round;
  }
}

TEST(SmipReadings, RangeAcrossTheWholeClockEnds) {
  const DateTime start = DateTime::min();
  const DateTime end = DateTime::max();
  const DateTime on_grid = start + minutes(1) * 100'000'000'000LL;
  smip::Log1Records l1{{on_grid, {0, 1, 2}}, {on_grid + seconds(1), {0, 3, 4}}, {end - microseconds(1), {0, 5, 6}}};
  auto [a, b] = smip::create_smip_readings("S", start, end, l1, {}, false, 1);
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].timestamp, on_grid);
  EXPECT_TRUE(b.empty());
}
