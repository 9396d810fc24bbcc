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

TEST(ProfileRecords, ParsingIsBoundedByTheBytesGiven) {
  vantor::codec::Bytes b{0x01, 0, 0, 0, 7, 0, 0, 1, 0};
  vantor::codec::ByteReader in(b);
  auto r = VexoProfileThreePhaseIntervalRecord::parse(in, 2);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.values, (std::vector<std::uint32_t>{7, 256}));

  vantor::codec::ByteReader short_in(b);
  EXPECT_THROW(VexoProfileThreePhaseIntervalRecord::parse(short_in, 1u << 30), util::CodecError);
  vantor::codec::Bytes log{0, 0, 0, 1, 0, 0, 0, 2};
  vantor::codec::ByteReader log_in(log);
  EXPECT_THROW(vantor::codec::VexoProfileLog1Record::parse(log_in), util::CodecError);
}
