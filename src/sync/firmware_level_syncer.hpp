// The FirmwareLevelSyncer: one syncer of the sync package.
#pragma once

#include "sync/syncer_base.hpp"

namespace meterops::sync {

// The firmware version, written to the registry when it differs.
class FirmwareLevelSyncer : public SyncerBase {
 public:
  using SyncerBase::SyncerBase;
  UpdatesTuple fetch_metrics() override;
};

}  // namespace meterops::sync
