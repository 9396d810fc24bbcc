#include "smip/smip_reading_builder.hpp"

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
  const auto step = std::chrono::minutes(interval_minutes);
  for (auto t = start_time; t < end_time; t += step) {
    std::optional<vantor::codec::VexoProfileLog1Record> l1;
    std::optional<vantor::codec::VexoProfileLog2Record> l2;
    if (auto it = log1_records.find(t); it != log1_records.end()) l1 = it->second;
    if (auto it = log2_records.find(t); it != log2_records.end()) l2 = it->second;
    if (!l1 && !l2) continue;
    out.first.push_back(create_smip_reading_from_profile(serial, t, l1, l2, true));
    if (is_twin_element) out.second.push_back(create_smip_reading_from_profile(serial, t, l1, l2, false));
  }
  return out;
}

}  // namespace meterops::smip
