#include "sync/syncer_base.hpp"

#include <chrono>

#include "vantor/codec/epoch.hpp"

namespace meterops::sync {

SyncerBase::SyncerBase(util::Client db, mediator::VantorMediatorAPI& vc, std::string id, std::string s)
    : supabase(std::move(db)), vantor_client(vc), meter_id(std::move(id)), serial(std::move(s)) {}

void SyncerBase::sync() {
  UpdatesTuple updates = fetch_metrics();
  if (updates.metrics && updates.metrics->is_object() && !updates.metrics->empty()) {
    auto now = std::chrono::time_point_cast<std::chrono::microseconds>(std::chrono::system_clock::now());
    std::string read_at = vantor::codec::format_iso_utc(now);
    util::Row rows = util::Row::array();
    for (auto it = updates.metrics->begin(); it != updates.metrics->end(); ++it) {
      rows.push_back({{"meter_id", meter_id}, {"metric", it.key()}, {"value", it.value()}, {"read_at", read_at}});
    }
    supabase.table("meter_readings").upsert(rows, "meter_id,metric").execute();
  }
  if (updates.registry_updates && updates.registry_updates->is_object() && !updates.registry_updates->empty()) {
    supabase.table("meter_registry").update(*updates.registry_updates).eq("id", meter_id).execute();
  }
}

}  // namespace meterops::sync
