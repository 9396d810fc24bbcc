#include "smip/smip_reading_builder.hpp"

#include <cstdint>

#include "util/errors.hpp"

namespace meterops::smip {

SMIPReading create_smip_reading_from_profile(const std::string& serial, vantor::codec::DateTime timestamp,
                                             const std::optional<vantor::codec::VexoProfileLog1Record>& log1,
                                             const std::optional<vantor::codec::VexoProfileLog2Record>& log2,
                                             bool is_element_a) {
  SMIPReading r;
  r.serial = serial;
  r.register_ = 1;
  r.timestamp = timestamp;
  if (log1) r.imp = static_cast<double>(is_element_a ? log1->import_a : log1->import_b);
  if (log2) r.exp = static_cast<double>(is_element_a ? log2->active_export_a : log2->active_export_b);
  r.errorCode = 0;
  return r;
}

std::pair<std::vector<SMIPReading>, std::vector<SMIPReading>> create_smip_readings(
    const std::string& serial, vantor::codec::DateTime start_time, vantor::codec::DateTime end_time,
    const Log1Records& log1_records, const Log2Records& log2_records, bool is_twin_element, int interval_minutes) {
  // A step of zero or less would never reach the end of the range.
  if (interval_minutes < 1) {
    throw util::ValueError("interval_minutes must be at least 1, got " + std::to_string(interval_minutes));
  }
  std::pair<std::vector<SMIPReading>, std::vector<SMIPReading>> out;
  if (!(start_time < end_time)) return out;
  const std::chrono::microseconds step = std::chrono::minutes(interval_minutes);
  // Only the walk's time stamps that hold a record give a reading, so the
  // walk visits the record keys in [start, end) that fall on its grid, in
  // time order: the same readings as stepping through every time stamp,
  // without spending time on empty stretches of a long range.
  auto it1 = log1_records.lower_bound(start_time);
  auto it2 = log2_records.lower_bound(start_time);
  const auto end1 = log1_records.lower_bound(end_time);
  const auto end2 = log2_records.lower_bound(end_time);
  while (it1 != end1 || it2 != end2) {
    const auto t = it2 == end2 || (it1 != end1 && it1->first < it2->first) ? it1->first : it2->first;
    std::optional<vantor::codec::VexoProfileLog1Record> l1;
    std::optional<vantor::codec::VexoProfileLog2Record> l2;
    if (it1 != end1 && it1->first == t) l1 = (it1++)->second;
    if (it2 != end2 && it2->first == t) l2 = (it2++)->second;
    // Unsigned: t >= start, so the difference is exact even across the whole clock range.
    const auto offset = static_cast<std::uint64_t>(t.time_since_epoch().count()) -
                        static_cast<std::uint64_t>(start_time.time_since_epoch().count());
    if (offset % static_cast<std::uint64_t>(step.count()) != 0) continue;  // off the grid
    out.first.push_back(create_smip_reading_from_profile(serial, t, l1, l2, true));
    if (is_twin_element) out.second.push_back(create_smip_reading_from_profile(serial, t, l1, l2, false));
  }
  return out;
}

}  // namespace meterops::smip
