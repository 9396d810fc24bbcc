// Meter event log records, as the meter's event log answer carries them.
#pragma once

#include <cstdint>

namespace meterops::vantor::codec {

struct VexoEventLogResponse {
  // One event: when (meter epoch seconds), which event, which event set.
  struct EventRec {
    uint32_t timestamp = 0;
    int event_id = 0;
    int event_set = 0;
    bool operator==(const EventRec&) const = default;
  };
};

}  // namespace meterops::vantor::codec
