// Copies a meter's event log into meter_event_log without copying an event
// twice: pages are read newest first, and only events newer than the newest
// stored one are inserted. Three-phase meters are skipped.
#pragma once

#include <optional>
#include <vector>

#include "sync/syncer_base.hpp"
#include "vantor/codec/event_log.hpp"

namespace meterops::sync {

using EventRec = vantor::codec::VexoEventLogResponse::EventRec;

// All of `events` when `last_seen` is none, else those strictly newer.
std::vector<EventRec> filter_event_log_for_unseen_events(const std::vector<EventRec>& events,
                                                         const std::optional<EventRec>& last_seen_event_rec);
// The meter_event_log row: meter_id, timestamp (ISO 8601), event_type, event_set.
util::Row event_rec_to_table_row(const std::string& meter_id, const EventRec& event);
// The inverse, for a stored row (ValueError/TypeError for a malformed row).
EventRec event_table_row_to_rec(const util::Row& row);
// An event as a log field.
util::Row event_to_json(const EventRec& event);

class EventJournalSyncer : public SyncerBase {
 public:
  using SyncerBase::SyncerBase;
  UpdatesTuple fetch_metrics() override;
  // Reads pages 0.. while every event of the page just read is unseen and
  // the page was full (10), at most pages 0 to 9.
  std::vector<EventRec> _fetch_unseen(const std::optional<EventRec>& last_seen_event);
};

}  // namespace meterops::sync
