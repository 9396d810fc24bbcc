#include "jobs/metric_refresh.hpp"

#include "jobs/util.hpp"
#include "util/errors.hpp"

namespace meterops::jobs {

namespace {
const util::Logger& logger() {
  static const util::Logger log = util::get_logger("jobs.metric_refresh", __FILE__);
  return log;
}
}  // namespace

std::optional<sync::SyncerFactory> find_syncer_class(const std::string& name) {
  std::optional<sync::SyncerFactory> found;
  int matches = 0;
  for (const auto& [class_name, factory] : sync::syncer_classes()) {
    if (class_name == name) {
      found = factory;
      ++matches;
    }
  }
  return matches == 1 ? found : std::nullopt;
}

MetricRefreshJob::MetricRefreshJob(const MetricRefreshOptions& options)
    : options_(options), supabase_(util::supa_client(options.supabase_url, options.supabase_key, options.flows_role_key)) {
  auto response = supabase_.table("meter_registry").select("serial").eq("id", options_.meter_id).execute();
  if (util::as_list(response).empty()) throw util::GeneralError("meter " + options_.meter_id + " not found");
  auto serial = util::as_first_item(response)["serial"];
  if (!serial.is_string()) throw util::GeneralError("meter " + options_.meter_id + " has no serial");
  serial_ = serial.get<std::string>();
  vantor_client_ = std::make_unique<mediator::VantorMediatorAPI>(options_.mediator_address, util::Level::info);
  log_ = logger().bind({{"meter_id", options_.meter_id}, {"mediator_address", options_.mediator_address}});
}

void MetricRefreshJob::sync() {
  std::vector<util::Row> rows;
  try {
    rows = util::as_list(supabase_.table("meter_metrics").select("*").eq("enabled", true)
                             .eq("run_frequency", options_.run_frequency).execute());
  } catch (const util::ConnectError& e) {
    handle_supabase_faliure(log_, e);
    return;
  }
  for (const auto& row : rows) {
    std::string name = row.value("name", util::Row()).is_string() ? row["name"].get<std::string>() : "";
    try {
      auto factory = find_syncer_class(name);
      if (!factory) throw util::LookupError("no syncer class named '" + name + "'");
      auto syncer = (*factory)(supabase_, *vantor_client_, options_.meter_id, serial_);
      syncer->sync();
    } catch (const std::exception& e) {
      log_.error("failure occurred syncing metric " + name,
                 {{"error", util::describe_exception(e)}, {"exception", util::format_exception(e)}});
    }
  }
}

}  // namespace meterops::jobs
