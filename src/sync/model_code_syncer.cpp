#include "sync/model_code_syncer.hpp"

#include "sync/detail.hpp"
#include "util/logging.hpp"

namespace meterops::sync {

using detail::opt_json;
using detail::opt_text;
using detail::registry_row;

namespace {
const util::Logger& model_code_log() {
  static const util::Logger log = util::get_logger("sync.model_code_syncer", __FILE__);
  return log;
}
}  // namespace

UpdatesTuple ModelCodeSyncer::fetch_metrics() {
  util::Row row = registry_row(*this, "hardware,serial");
  auto fetched = vantor_client.hardware(serial);
  auto registered = opt_text(row["hardware"]);
  if (registered == fetched) return {};
  if (!registered && fetched) {
    model_code_log().info("got new hardware", {{"new_hardware", *fetched}});
  } else {
    model_code_log().warning("fetched hardware and registry hardware different!",
                             {{"new_hardware", opt_json(fetched)}, {"old_hardware", opt_json(registered)}});
  }
  return {std::nullopt, util::Row{{"hardware", opt_json(fetched)}}};
}

}  // namespace meterops::sync
