#include "jobs/fleet_sync.hpp"

#include "jobs/job_frame.hpp"
#include "jobs/metric_refresh.hpp"
#include "util/errors.hpp"
#include "util/settings.hpp"
#include "util/worker_pool.hpp"

namespace meterops::jobs {

namespace {
const util::Logger& logger() {
  static const util::Logger log = util::get_logger("jobs.fleet_sync", __FILE__);
  return log;
}
}  // namespace

FleetSyncSettings FleetSyncSettings::from_env() {
  FleetSyncSettings s;
  s.mediator_server = util::env_text("MEDIATOR_SERVER");
  s.supabase_url = util::env_text("SUPABASE_URL");
  s.supabase_key = util::env_text("SUPABASE_ANON_KEY");
  s.flows_role_key = util::env_text("FLOWS_ROLE_KEY");
  s.max_parallel_jobs = util::env_int_at_least("MAX_PARALLEL_JOBS", 15, 1);
  return s;
}

bool filter_connected(const util::Row& meter) {
  return meter.contains("ip_address") && !meter["ip_address"].is_null();
}

FleetSyncJob::FleetSyncJob(FleetSyncSettings settings, Filter filter_fn, std::optional<std::string> run_frequency,
                           std::optional<std::string> esco)
    : settings_(std::move(settings)), esco_(std::move(esco)) {
  log_ = logger().bind({{"esco", esco_ ? util::Row(*esco_) : util::Row(nullptr)}});
  _check_environment();
  filter_fn_ = std::move(filter_fn);
  run_frequency_ = std::move(run_frequency);
  supabase_ = util::supa_client(settings_.supabase_url.value(), settings_.supabase_key.value(),
                                settings_.flows_role_key.value());
}

void FleetSyncJob::_check_environment() {
  // Checked in this order; the first failure ends the program.
  static const std::vector<EnvCheck> checks = {
      {{"SUPABASE_URL", "SUPABASE_ANON_KEY"}, "Environment variables SUPABASE_URL and SUPABASE_ANON_KEY not set.", 2},
      {{"FLOWS_ROLE_KEY"}, "Environment variable FLOWS_ROLE_KEY not set.", 3},
      {{"MEDIATOR_SERVER"}, "Environment variable MEDIATOR_SERVER not set.", 4},
  };
  check_environment(log_, checks);
}

void FleetSyncJob::run() {
  log_.info("starting ...");
  auto query = supabase_->table("meter_registry").select("id,ip_address,serial,hardware");
  if (esco_) {
    auto escos = find_escos(*supabase_, *esco_);
    if (escos.empty()) {
      log_.error("no esco found for " + *esco_);
      throw util::ExitRequest{10};
    }
    query.eq("esco", escos.front()["id"]);
  }
  auto rows = util::as_list(query.eq("mode", "active").order("serial").execute());
  log_.info(std::to_string(rows.size()) + " meters found");
  if (rows.empty()) {
    log_.error("no meters record found");
    throw util::ExitRequest{11};
  }
  std::vector<util::Row> kept;
  for (auto& row : rows) {
    if (filter_connected(row) && (!filter_fn_ || filter_fn_(row))) kept.push_back(std::move(row));
  }
  log_.info(std::to_string(kept.size()) + " meters after filtering");
  util::map_in_pool(
      static_cast<std::size_t>(settings_.max_parallel_jobs), kept,
      [this](const util::Row& m) {
        run_job(m["id"].is_string() ? m["id"].get<std::string>() : m["id"].dump(),
                m["serial"].is_string() ? m["serial"].get<std::string>() : "");
        return true;
      },
      log_);
  log_.info("finished");
}

void FleetSyncJob::run_job(const std::string& meter_id, const std::string&) {
  log_.info("run_job", {{"meter_id", meter_id}});
  try {
    MetricRefreshJob job({meter_id, settings_.mediator_server.value(), settings_.supabase_url.value(),
                          settings_.supabase_key.value(), settings_.flows_role_key.value(), run_frequency_.value_or(""),
                          false});
    job.sync();
  } catch (const std::exception& e) {
    log_.error("failure occured syncing meter " + meter_id,
               {{"error", util::describe_exception(e)}, {"exception", util::format_exception(e)}});
  } catch (...) {
    log_.error("failure occured syncing meter " + meter_id, {{"error", "unknown error"}});
  }
}

}  // namespace meterops::jobs
