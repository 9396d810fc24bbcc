// The ModelCodeSyncer: one syncer of the sync package.
#pragma once

#include "sync/syncer_base.hpp"

namespace meterops::sync {

// The model code, written to the registry when it differs.
class ModelCodeSyncer : public SyncerBase {
 public:
  using SyncerBase::SyncerBase;
  UpdatesTuple fetch_metrics() override;
};

}  // namespace meterops::sync
