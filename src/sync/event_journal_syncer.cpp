#include "sync/event_journal_syncer.hpp"

#include "util/errors.hpp"
#include "util/logging.hpp"
#include "util/meters.hpp"
#include "vantor/codec/epoch.hpp"

namespace meterops::sync {

namespace {

const util::Logger& logger() {
  static const util::Logger log = util::get_logger("sync.event_journal_syncer", __FILE__);
  return log;
}

constexpr std::size_t kPageSize = 10;
constexpr int kPages = 10;

util::Row events_json(const std::vector<EventRec>& events) {
  util::Row out = util::Row::array();
  for (const auto& e : events) out.push_back(event_to_json(e));
  return out;
}

}  // namespace

std::vector<EventRec> filter_event_log_for_unseen_events(const std::vector<EventRec>& events,
                                                         const std::optional<EventRec>& last_seen) {
  if (!last_seen) return events;
  std::vector<EventRec> out;
  for (const auto& e : events) {
    if (e.timestamp > last_seen->timestamp) out.push_back(e);
  }
  return out;
}

util::Row event_rec_to_table_row(const std::string& meter_id, const EventRec& e) {
  return util::Row{{"meter_id", meter_id},
                   {"timestamp", vantor::codec::format_iso_utc(vantor::codec::vexo_epoch_seconds_to_datetime(e.timestamp))},
                   {"event_type", e.event_id},
                   {"event_set", e.event_set}};
}

EventRec event_table_row_to_rec(const util::Row& row) {
  if (!row.is_object() || !row.contains("timestamp") || !row["timestamp"].is_string() ||
      !row.contains("event_type") || !row["event_type"].is_number_integer()) {
    throw util::TypeError("meter_event_log row without a timestamp or event_type: " + row.dump());
  }
  EventRec r;
  auto seconds = vantor::codec::vexo_datetime_to_epoch_seconds(vantor::codec::parse_iso(row["timestamp"].get<std::string>()));
  if (seconds < 0 || seconds > 0xFFFFFFFFLL) throw util::ValueError("stored event time outside the meter's clock range");
  r.timestamp = static_cast<std::uint32_t>(seconds);
  r.event_id = row["event_type"].get<int>();
  r.event_set = row.value("event_set", util::Row()).is_number_integer() ? row["event_set"].get<int>() : 0;
  return r;
}

util::Row event_to_json(const EventRec& e) {
  return util::Row{{"timestamp", e.timestamp}, {"event_id", e.event_id}, {"event_set", e.event_set}};
}

std::vector<EventRec> EventJournalSyncer::_fetch_unseen(const std::optional<EventRec>& last_seen_event) {
  std::vector<EventRec> collected;
  int log_idx = 0;
  bool sync_more = true;
  while (sync_more) {
    auto page = vantor_client.event_log(serial, log_idx);
    auto unseen = filter_event_log_for_unseen_events(page.events, last_seen_event);
    logger().info("unseen in current fetched logs", {{"unseen_in_fetched", events_json(unseen)}});
    collected.insert(collected.end(), unseen.begin(), unseen.end());
    ++log_idx;
    sync_more = unseen.size() == kPageSize && log_idx < kPages;
  }
  return collected;
}

UpdatesTuple EventJournalSyncer::fetch_metrics() {
  if (util::is_three_phase_lookup(supabase, meter_id)) return {};
  auto response = supabase.table("meter_event_log")
                      .select("timestamp,event_type,event_set")
                      .eq("meter_id", meter_id)
                      .order("timestamp", true)
                      .limit(1)
                      .execute();
  std::optional<EventRec> last_seen;
  if (!response.data.empty()) {
    const auto& row = response.data[0];
    logger().info("last seen event row", {{"last_seen_event", row}});
    last_seen = event_table_row_to_rec(row);
  }
  auto unseen = _fetch_unseen(last_seen);
  logger().info("unseen events count", {{"unseen_event_count", unseen.size()}});
  if (unseen.empty()) return {};
  std::vector<EventRec> kept;
  for (const auto& e : unseen) {
    if (e.event_id != 0) kept.push_back(e);
  }
  if (kept.size() != unseen.size()) logger().warning("ignoring events with event_id 0");
  util::Row rows = util::Row::array();
  for (const auto& e : kept) rows.push_back(event_rec_to_table_row(meter_id, e));
  logger().info(std::to_string(rows.size()) + " records to insert", {{"insert_recs", rows}});
  auto inserted = supabase.table("meter_event_log").upsert(rows, "meter_id,timestamp,event_type", true).execute();
  logger().info("supabase insert response", {{"response", inserted.data}});
  return {};
}

}  // namespace meterops::sync
