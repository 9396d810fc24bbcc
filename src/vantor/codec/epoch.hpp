// The meter's clock: seconds since the meter epoch 2000-01-01T00:00:00Z
// (UTC), and the ISO 8601 text the database stores time stamps as.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace meterops::vantor::codec {

using DateTime = std::chrono::sys_time<std::chrono::microseconds>;

// 2000-01-01T00:00:00Z.
inline constexpr std::chrono::sys_seconds kMeterEpoch{std::chrono::seconds{946684800}};

// Meter clock seconds (a u32 on the wire; negative values allowed for
// arithmetic) as a UTC time point. ValueError beyond +-250e9 seconds.
DateTime vexo_epoch_seconds_to_datetime(std::int64_t seconds);
// Whole seconds since the meter epoch (fractions are dropped toward the past).
std::int64_t vexo_datetime_to_epoch_seconds(DateTime t);

// "2024-01-01T00:00:00+00:00", with ".ffffff" only when the microseconds are
// not zero.
std::string format_iso_utc(DateTime t);
// Parses ISO 8601 date-times with an offset ("+00:00", "+0000", "+00", "Z"),
// "T" or a blank between date and time, optional fraction (up to 6 digits).
// Text without an offset is taken as UTC. ValueError on anything else.
DateTime parse_iso(std::string_view text);

}  // namespace meterops::vantor::codec
