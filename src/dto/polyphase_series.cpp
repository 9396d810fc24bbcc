#include "dto/polyphase_series.hpp"

#include "util/logging.hpp"

namespace meterops::dto {

PolyphaseSeries::PolyphaseSeries(std::int64_t block_start, std::int64_t duration, std::int64_t num_ids,
                                 std::vector<vantor::codec::Bytes> ids,
                                 std::vector<vantor::codec::VexoProfileThreePhaseIntervalRecord> records)
    : block_start_time(vantor::codec::vexo_epoch_seconds_to_datetime(block_start)),
      interval_duration(duration),
      num_channel_ids(num_ids),
      channel_ids(std::move(ids)),
      intervals(std::move(records)) {}

std::string PolyphaseSeries::to_string() const {
  // ISO text with a blank instead of "T": the date-time's own text form.
  // (Found, not indexed: a year before 0 is written with more characters.)
  std::string when = vantor::codec::format_iso_utc(block_start_time);
  if (auto t = when.find('T'); t != std::string::npos) when[t] = ' ';
  std::string out = "VexoProfilePolyphaseSeriesBlockHeader(block_start_time=" + when;
  out += ", interval_duration=" + std::to_string(interval_duration);
  out += ", num_channel_ids=" + std::to_string(num_channel_ids);
  out += ", channel_ids=(";
  for (std::size_t i = 0; i < channel_ids.size(); ++i) {
    if (i) out += ", ";
    const auto& id = channel_ids[i];
    out += util::hex(std::string_view(reinterpret_cast<const char*>(id.data()), id.size()));
  }
  out += "), intervals=(";
  for (std::size_t i = 0; i < intervals.size(); ++i) {
    if (i) out += ", ";
    out += vantor::codec::vexo_profile_three_phase_interval_record_pretty_print(intervals[i]);
  }
  out += "))";
  return out;
}

std::ostream& operator<<(std::ostream& os, const PolyphaseSeries& s) { return os << s.to_string(); }

}  // namespace meterops::dto
