// The PaymentModeSyncer: one syncer of the sync package.
#pragma once

#include "sync/syncer_base.hpp"

namespace meterops::sync {

// The prepayment flag of single-phase meters, reported on every run.
class PaymentModeSyncer : public SyncerBase {
 public:
  using SyncerBase::SyncerBase;
  UpdatesTuple fetch_metrics() override;
};

}  // namespace meterops::sync
