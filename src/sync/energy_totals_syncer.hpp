// The EnergyTotalsSyncer: one syncer of the sync package.
#pragma once

#include "sync/syncer_base.hpp"

namespace meterops::sync {

// import/export totals per element, or the three-phase totals (export under
// "export_a"); skipped without a registered model code.
class EnergyTotalsSyncer : public SyncerBase {
 public:
  using SyncerBase::SyncerBase;
  UpdatesTuple fetch_metrics() override;
};

}  // namespace meterops::sync
