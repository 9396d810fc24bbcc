#include "sync/firmware_level_syncer.hpp"

#include "sync/detail.hpp"
#include "util/logging.hpp"

namespace meterops::sync {

using detail::opt_json;
using detail::opt_text;
using detail::registry_row;

namespace {
const util::Logger& firmware_log() {
  static const util::Logger log = util::get_logger("sync.firmware_level_syncer", __FILE__);
  return log;
}
}  // namespace

UpdatesTuple FirmwareLevelSyncer::fetch_metrics() {
  util::Row row = registry_row(*this, "firmware_version,serial");
  auto fetched = vantor_client.firmware_version(serial);
  auto registered = opt_text(row["firmware_version"]);
  if (registered == fetched) return {};
  firmware_log().info("update firmware_version", {{"new_firmware_version", opt_json(fetched)}});
  return {std::nullopt, util::Row{{"firmware_version", opt_json(fetched)}}};
}

}  // namespace meterops::sync
