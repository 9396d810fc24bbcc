#include <fstream>

#include <gtest/gtest.h>

#include "smip/smip_lookup_outcome.hpp"
#include "smip/smip_reading_builder.hpp"
#include "support/process.hpp"
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

TEST(SmipLookupOutcome, FoundIsDecidedOnceAtConstruction) {
  meterops::testing::TempDir dir;
  std::string file = dir.file("smip.csv");
  smip::SMIPLookupOutcome missing(false, false, file);
  std::ofstream(file) << "x";
  smip::SMIPLookupOutcome present(true, false, file);
  std::filesystem::remove(file);
  EXPECT_FALSE(missing.found);
  EXPECT_TRUE(present.found);
  EXPECT_TRUE(present.ingested());

  smip::SMIPLookupOutcome none(false, true);
  EXPECT_FALSE(none.found);
  EXPECT_TRUE(none.ingested());
  EXPECT_FALSE(smip::SMIPLookupOutcome(false, false, "").ingested());
}
