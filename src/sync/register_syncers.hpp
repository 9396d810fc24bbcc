// The register syncers: energy totals, model code, firmware level, payment
// mode and active tariffs of one meter.
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

// The model code, written to the registry when it differs.
class ModelCodeSyncer : public SyncerBase {
 public:
  using SyncerBase::SyncerBase;
  UpdatesTuple fetch_metrics() override;
};

// The firmware version, written to the registry when it differs.
class FirmwareLevelSyncer : public SyncerBase {
 public:
  using SyncerBase::SyncerBase;
  UpdatesTuple fetch_metrics() override;
};

// The prepayment flag of single-phase meters, reported on every run.
class PaymentModeSyncer : public SyncerBase {
 public:
  using SyncerBase::SyncerBase;
  UpdatesTuple fetch_metrics() override;
};

// The active tariffs of single-phase meters, stored as they come.
class TariffStateSyncer : public SyncerBase {
 public:
  using SyncerBase::SyncerBase;
  UpdatesTuple fetch_metrics() override;
};

}  // namespace meterops::sync
