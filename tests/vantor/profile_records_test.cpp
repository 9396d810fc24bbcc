#include "vantor/codec/profile_records.hpp"

#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "util/errors.hpp"

using namespace meterops::vantor::codec;
using meterops::util::CodecError;

TEST(ProfileRecords, IntervalPrettyPrint) {
  const std::vector<std::pair<VexoProfileThreePhaseIntervalRecord, const char*>> cases = {
      {{0x00, {1, 2, 3}}, "VexoProfileThreePhaseIntervalRecord(status=0x00, values=(1, 2, 3))"},
      {{0x81, {}}, "VexoProfileThreePhaseIntervalRecord(status=0x81, values=())"},
      {{0xff, {4294967295u}}, "VexoProfileThreePhaseIntervalRecord(status=0xff, values=(4294967295))"},
  };
  for (const auto& [record, text] : cases) EXPECT_EQ(vexo_profile_three_phase_interval_record_pretty_print(record), text);
}

TEST(ProfileRecords, IntervalParsingReadsStatusThenBigEndianValues) {
  const Bytes b{0x01, 0, 0, 0, 7, 0, 0, 1, 0, 0xAA};
  ByteReader in(b);
  auto r = VexoProfileThreePhaseIntervalRecord::parse(in, 2);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.values, (std::vector<std::uint32_t>{7, 256}));
  EXPECT_EQ(in.remaining(), 1u);  // the next record's bytes stay unread

  ByteReader none(b);
  EXPECT_TRUE(VexoProfileThreePhaseIntervalRecord::parse(none, 0).values.empty());
}

TEST(ProfileRecords, ParsingNeverReadsPastTheBytesGiven) {
  const Bytes b{0x01, 0, 0, 0, 7, 0, 0, 1};
  // A channel count larger than the bytes, including ones whose byte count
  // would wrap, is refused before anything is reserved.
  for (std::size_t channels : {std::size_t{2}, std::size_t{1} << 30, std::numeric_limits<std::size_t>::max() / 2,
                               std::numeric_limits<std::size_t>::max()}) {
    ByteReader in(b);
    EXPECT_THROW(VexoProfileThreePhaseIntervalRecord::parse(in, channels), CodecError) << channels;
  }
  ByteReader empty(std::span<const std::uint8_t>{});
  EXPECT_THROW(VexoProfileThreePhaseIntervalRecord::parse(empty, 0), CodecError);
}

TEST(ProfileRecords, LogRecordsReadTimestampAndTwoRegisters) {
  const Bytes b{0, 0, 0x0E, 0x10, 0, 0, 0, 5, 0xFF, 0xFF, 0xFF, 0xFF};
  ByteReader in1(b);
  auto l1 = VexoProfileLog1Record::parse(in1);
  EXPECT_EQ(l1.timestamp, 3600u);
  EXPECT_EQ(l1.import_a, 5.0);
  EXPECT_EQ(l1.import_b, 4294967295.0);
  ByteReader in2(b);
  auto l2 = VexoProfileLog2Record::parse(in2);
  EXPECT_EQ(l2.timestamp, 3600u);
  EXPECT_EQ(l2.active_export_a, 5.0);
  EXPECT_EQ(l2.active_export_b, 4294967295.0);

  for (std::size_t cut = 0; cut < b.size(); ++cut) {
    const Bytes shorter(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(cut));
    ByteReader a(shorter), c(shorter);
    EXPECT_THROW(VexoProfileLog1Record::parse(a), CodecError) << cut;
    EXPECT_THROW(VexoProfileLog2Record::parse(c), CodecError) << cut;
  }
}
