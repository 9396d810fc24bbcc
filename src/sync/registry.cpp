// The package's syncer classes by class name: what meter_metrics rows name.
#include "sync/event_journal_syncer.hpp"
#include "sync/energy_totals_syncer.hpp"
#include "sync/firmware_level_syncer.hpp"
#include "sync/model_code_syncer.hpp"
#include "sync/payment_mode_syncer.hpp"
#include "sync/tariff_state_syncer.hpp"

namespace meterops::sync {

namespace {
template <class T>
SyncerFactory factory() {
  return [](util::Client db, mediator::VantorMediatorAPI& m, std::string id, std::string serial) -> std::unique_ptr<SyncerBase> {
    return std::make_unique<T>(std::move(db), m, std::move(id), std::move(serial));
  };
}
}  // namespace

const std::vector<std::pair<std::string, SyncerFactory>>& syncer_classes() {
  static const std::vector<std::pair<std::string, SyncerFactory>> classes = {
      {"EnergyTotalsSyncer", factory<EnergyTotalsSyncer>()},   {"ModelCodeSyncer", factory<ModelCodeSyncer>()},
      {"FirmwareLevelSyncer", factory<FirmwareLevelSyncer>()}, {"PaymentModeSyncer", factory<PaymentModeSyncer>()},
      {"TariffStateSyncer", factory<TariffStateSyncer>()},     {"EventJournalSyncer", factory<EventJournalSyncer>()},
  };
  return classes;
}

}  // namespace meterops::sync
