// The TariffStateSyncer: one syncer of the sync package.
#pragma once

#include "sync/syncer_base.hpp"

namespace meterops::sync {

// The active tariffs of single-phase meters, stored as they come.
class TariffStateSyncer : public SyncerBase {
 public:
  using SyncerBase::SyncerBase;
  UpdatesTuple fetch_metrics() override;
};

}  // namespace meterops::sync
