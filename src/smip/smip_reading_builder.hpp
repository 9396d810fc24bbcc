// Builds SMIP readings from profile-log records: profile log 1 gives the
// import values, profile log 2 the export values, for element A and (on a
// twin-element meter) element B. Pure functions.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "smip/smip_reading.hpp"
#include "vantor/codec/profile_records.hpp"

namespace meterops::smip {

using Log1Records = std::map<vantor::codec::DateTime, vantor::codec::VexoProfileLog1Record>;
using Log2Records = std::map<vantor::codec::DateTime, vantor::codec::VexoProfileLog2Record>;

// One reading for one element; register 1, errorCode 0.
SMIPReading create_smip_reading_from_profile(const std::string& serial, vantor::codec::DateTime timestamp,
                                             const std::optional<vantor::codec::VexoProfileLog1Record>& log1_record,
                                             const std::optional<vantor::codec::VexoProfileLog2Record>& log2_record,
                                             bool is_element_a);

// Walks [start_time, end_time) in steps of `interval_minutes` and emits a
// reading per element wherever a log 1 or log 2 record is keyed exactly at
// a step (both records of a time stamp go into the same reading), in time
// order. Returns (element A readings, element B readings); B stays empty
// unless `is_twin_element`. ValueError when interval_minutes < 1. Time taken
// grows with the records in the range, not with the range's length.
std::pair<std::vector<SMIPReading>, std::vector<SMIPReading>> create_smip_readings(
    const std::string& serial, vantor::codec::DateTime start_time, vantor::codec::DateTime end_time,
    const Log1Records& log1_records, const Log2Records& log2_records, bool is_twin_element = false,
    int interval_minutes = 30);

}  // namespace meterops::smip
