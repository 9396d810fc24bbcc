// What every syncer shares: the result record and the storing of it.
// A syncer asks the meter's mediator for one kind of value and says what is
// to be stored; SyncerBase::sync() stores it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "mediator/api_core.hpp"
#include "util/supabase.hpp"

namespace meterops::sync {

struct UpdatesTuple {
  // Metric key -> value: stored as the meter's latest readings.
  std::optional<util::Row> metrics;
  // meter_registry column -> new value for the meter's row.
  std::optional<util::Row> registry_updates;
};

class SyncerBase {
 public:
  SyncerBase(util::Client supabase, mediator::VantorMediatorAPI& vantor_client, std::string meter_id,
             std::string serial);
  virtual ~SyncerBase() = default;

  virtual UpdatesTuple fetch_metrics() = 0;

  // fetch_metrics(), then: metrics upserted into meter_readings (one row per
  // key, with the time of reading), registry updates applied to the meter's
  // meter_registry row. Nothing is written when both are none.
  void sync();

  util::Client supabase;
  mediator::VantorMediatorAPI& vantor_client;
  std::string meter_id;
  std::string serial;
};

using SyncerFactory = std::function<std::unique_ptr<SyncerBase>(util::Client, mediator::VantorMediatorAPI&,
                                                                 std::string, std::string)>;

// Every syncer class of the package by class name, in a fixed order.
const std::vector<std::pair<std::string, SyncerFactory>>& syncer_classes();

}  // namespace meterops::sync
