// Client of the mediator service for readings and settings of one meter.
// Built per meter and used by one thread. Every call has a deadline
// (MEDIATOR_DEADLINE_SECONDS, default 30); any failure raises
// MediatorClientException with the gRPC status name in code_str().
//
//   mediator::VantorMediatorAPI m("127.0.0.1:50051");
//   auto a = m.read_element_a(serial);   // a.import_active, a.export_active
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "mediator/mediator_client_exception.hpp"
#include "util/logging.hpp"
#include "vantor/codec/event_log.hpp"

namespace meterops::mediator {

struct ElementTotals {
  double import_active = 0;
  double export_active = 0;
};

struct ThreePhaseTotals {
  double active_import = 0;
  double active_export = 0;
};

struct EventLogPage {
  std::vector<vantor::codec::VexoEventLogResponse::EventRec> events;
};

// One interval of a three-phase profile: its time (ISO 8601 UTC), one value
// per channel, and the meter's status word for the interval.
struct PolyphaseInterval {
  std::string timestamp;
  std::vector<double> values;
  int status = 0;
};

struct PolyphaseSeriesResult {
  std::vector<std::string> channels;          // channel names, CSV column order
  std::vector<PolyphaseInterval> intervals;   // every interval of the range
};

struct PolyphaseSeriesRequest {
  std::string day;                        // YYYY-MM-DD (UTC day)
  std::optional<std::string> start_time;  // ISO 8601; none: start of the day
  std::optional<std::string> end_time;    // ISO 8601; none: end of the day
  std::string csv;                        // output file path
  bool include_statuses = false;
};

namespace detail {
struct Channel;  // the gRPC channel and stubs
}

class VantorMediatorAPI {
 public:
  // `mediator_address` is "host:port" (util::ValueError otherwise); the
  // channel connects lazily, so an unreachable mediator shows on the first
  // call as "UNAVAILABLE". With `logging_level` above debug the client's
  // per-call debug lines are left out. TLS settings: see channel.hpp.
  explicit VantorMediatorAPI(const std::string& mediator_address,
                             std::optional<util::Level> logging_level = std::nullopt);
  ~VantorMediatorAPI();
  VantorMediatorAPI(VantorMediatorAPI&&) noexcept;
  VantorMediatorAPI& operator=(VantorMediatorAPI&&) noexcept;

  ElementTotals read_element_a(const std::string& serial);
  ElementTotals read_element_b(const std::string& serial);
  ThreePhaseTotals three_phase_read(const std::string& serial,
                                    const std::optional<std::string>& hardware = std::nullopt);
  // The model code; none when the meter reports none.
  std::optional<std::string> hardware(const std::string& serial);
  // The firmware version; none when the meter reports none.
  std::optional<std::string> firmware_version(const std::string& serial);
  bool prepay_enabled(const std::string& serial);
  // The active tariffs as the mediator sends them (any JSON value); an answer
  // that is not JSON raises MediatorClientException "DATA_LOSS".
  nlohmann::ordered_json tariffs_active_read(const std::string& serial);
  // One page of up to 10 events, newest first; page 0 holds the newest.
  // An index outside 0 to 9 is a util::ValueError, raised before any call.
  EventLogPage event_log(const std::string& serial, int log_idx);
  void clock_time_write(const std::string& serial);
  // Fetches the profile and writes request.csv: a header ("timestamp", the
  // channel names, "status" only with include_statuses), then one row per
  // interval. Written beside the target and renamed into place: a failed
  // call leaves the target as it was. An interval whose value count differs
  // from the channel count raises MediatorClientException "DATA_LOSS".
  PolyphaseSeriesResult polyphase_series(const std::string& serial, const PolyphaseSeriesRequest& request);

  const std::string& mediator_address() const { return address_; }

 private:
  std::string address_;
  std::unique_ptr<detail::Channel> channel_;
};

}  // namespace meterops::mediator
