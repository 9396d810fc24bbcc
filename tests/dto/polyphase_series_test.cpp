#include "dto/polyphase_series.hpp"

#include <gtest/gtest.h>

using namespace meterops;
using vantor::codec::VexoProfileThreePhaseIntervalRecord;

TEST(PolyphaseSeries, EmptyListsLeaveEmptyParentheses) {
  dto::PolyphaseSeries s(0, 30, 0, {}, {});
  EXPECT_EQ(s.to_string(),
            "VexoProfilePolyphaseSeriesBlockHeader(block_start_time=2000-01-01 00:00:00+00:00, interval_duration=30, "
            "num_channel_ids=0, channel_ids=(), intervals=())");
}

TEST(PolyphaseSeries, ChannelIdsAreLowercaseHexAndCountIsPrintedAsGiven) {
  dto::PolyphaseSeries s(86400 + 3661, 15, 5, {{0x01, 0x02, 0x03}, {}, {0x0A, 0xFF}},
                         {VexoProfileThreePhaseIntervalRecord{0, {1, 2}}, VexoProfileThreePhaseIntervalRecord{0x81, {}}});
  EXPECT_EQ(s.to_string(),
            "VexoProfilePolyphaseSeriesBlockHeader(block_start_time=2000-01-02 01:01:01+00:00, interval_duration=15, "
            "num_channel_ids=5, channel_ids=(010203, , 0aff), intervals=("
            "VexoProfileThreePhaseIntervalRecord(status=0x00, values=(1, 2)), "
            "VexoProfileThreePhaseIntervalRecord(status=0x81, values=())))");
}

TEST(PolyphaseSeries, StartTimeIsConvertedFromMeterEpochSeconds) {
  // (epoch seconds, text of block_start_time)
  const std::vector<std::pair<std::int64_t, const char*>> cases = {
      {0, "2000-01-01 00:00:00+00:00"},
      {4294967295LL, "2136-02-07 06:28:15+00:00"},  // the largest meter clock value
      {-1, "1999-12-31 23:59:59+00:00"},
  };
  for (const auto& [seconds, text] : cases) {
    dto::PolyphaseSeries s(seconds, 1, 1, {{0x00}}, {});
    EXPECT_EQ(s.block_start_time, vantor::codec::vexo_epoch_seconds_to_datetime(seconds));
    EXPECT_EQ(s.to_string(), std::string("VexoProfilePolyphaseSeriesBlockHeader(block_start_time=") + text +
                                 ", interval_duration=1, num_channel_ids=1, channel_ids=(00), intervals=())");
  }
}
