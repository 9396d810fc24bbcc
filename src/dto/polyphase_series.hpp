// One block of a three-phase meter's interval profile: the block header
// (start, interval duration, channel ids) and its interval records, held
// and printed without the codec's parser objects.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "vantor/codec/epoch.hpp"
#include "vantor/codec/profile_records.hpp"

namespace meterops::dto {

struct PolyphaseSeries {
  // `block_start_time` in meter epoch seconds; the rest stored as given
  // (num_channel_ids is not checked against channel_ids).
  PolyphaseSeries(std::int64_t block_start_time, std::int64_t interval_duration, std::int64_t num_channel_ids,
                  std::vector<vantor::codec::Bytes> channel_ids,
                  std::vector<vantor::codec::VexoProfileThreePhaseIntervalRecord> intervals);

  vantor::codec::DateTime block_start_time;  // UTC
  std::int64_t interval_duration;
  std::int64_t num_channel_ids;
  std::vector<vantor::codec::Bytes> channel_ids;
  std::vector<vantor::codec::VexoProfileThreePhaseIntervalRecord> intervals;

  // "VexoProfilePolyphaseSeriesBlockHeader(block_start_time=2024-01-01 00:00:00+00:00,
  //  interval_duration=30, num_channel_ids=2, channel_ids=(0102, 0aff), intervals=(...))"
  std::string to_string() const;
};

std::ostream& operator<<(std::ostream& os, const PolyphaseSeries& s);

}  // namespace meterops::dto
