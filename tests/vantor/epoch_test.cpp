#include "vantor/codec/epoch.hpp"

#include <gtest/gtest.h>

#include "util/errors.hpp"

using namespace meterops::vantor::codec;

TEST(Epoch, MeterEpochIsTheYear2000InUtc) {
  EXPECT_EQ(format_iso_utc(vexo_epoch_seconds_to_datetime(0)), "2000-01-01T00:00:00+00:00");
  EXPECT_EQ(format_iso_utc(vexo_epoch_seconds_to_datetime(789000000)), "2024-12-31T22:40:00+00:00");
}

TEST(Epoch, SecondsRoundTripThroughIsoText) {
  for (std::int64_t s : {0LL, 1LL, 86399LL, 789000000LL, 4294967295LL}) {
    auto text = format_iso_utc(vexo_epoch_seconds_to_datetime(s));
    EXPECT_EQ(vexo_datetime_to_epoch_seconds(parse_iso(text)), s) << text;
  }
}

TEST(Epoch, ParsesTheFormsTheDatabaseGives) {
  auto base = parse_iso("2024-03-01T10:00:00+00:00");
  EXPECT_EQ(parse_iso("2024-03-01 10:00:00+00"), base);
  EXPECT_EQ(parse_iso("2024-03-01T10:00:00Z"), base);
  EXPECT_EQ(parse_iso("2024-03-01T12:00:00+02:00"), base);
  EXPECT_EQ(parse_iso("2024-03-01T10:00:00"), base);
  EXPECT_EQ(format_iso_utc(parse_iso("2024-03-01T10:00:00.5+00:00")), "2024-03-01T10:00:00.500000+00:00");
}

TEST(Epoch, MalformedTextIsAValueError) {
  for (const char* bad : {"", "2024-02-30T00:00:00Z", "2024-03-01", "2024-03-01T10:00", "2024-03-01T10:00:00+0x",
                          "2024-03-01T25:00:00Z", "2024-03-01T10:00:00Zjunk", "2024-03-01T10:00:00+24:00",
                          "2024-03-01T10:00:00+05:60", "2024-03-01T10:00:00."}) {
    EXPECT_THROW(parse_iso(bad), meterops::util::ValueError) << bad;
  }
}

TEST(Epoch, MicrosecondsAndNegativeOffsetsRoundTrip) {
  auto t = parse_iso("2024-03-01T10:00:00.123456-05:30");
  EXPECT_EQ(format_iso_utc(t), "2024-03-01T15:30:00.123456+00:00");
  EXPECT_EQ(parse_iso(format_iso_utc(t)), t);
  // Whole seconds toward the past, also before the epoch.
  EXPECT_EQ(vexo_datetime_to_epoch_seconds(parse_iso("1999-12-31T23:59:59.5Z")), -1);
}

TEST(Epoch, SecondsBeyondAnyCalendarYearAreAValueError) {
  EXPECT_THROW(vexo_epoch_seconds_to_datetime(INT64_MAX), meterops::util::ValueError);
  EXPECT_THROW(vexo_epoch_seconds_to_datetime(INT64_MIN), meterops::util::ValueError);
  EXPECT_EQ(format_iso_utc(vexo_epoch_seconds_to_datetime(std::uint32_t{0xFFFFFFFF})), "2136-02-07T06:28:15+00:00");
}
