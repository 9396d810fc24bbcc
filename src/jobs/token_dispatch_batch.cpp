#include "jobs/token_dispatch_batch.hpp"

#include <algorithm>
#include <map>
#include <set>

#include "jobs/job_frame.hpp"
#include "jobs/push_topup_token.hpp"
#include "util/errors.hpp"
#include "util/settings.hpp"
#include "util/worker_pool.hpp"

namespace meterops::jobs {

namespace {

const util::Logger& logger() {
  static const util::Logger log = util::get_logger("jobs.token_dispatch_batch", __FILE__);
  return log;
}

std::string text(const util::Row& v) { return v.is_string() ? v.get<std::string>() : v.dump(); }

std::string serial_of(const util::Row& topup) {
  if (topup.contains("meters") && topup["meters"].is_object() && topup["meters"].contains("serial")) {
    return text(topup["meters"]["serial"]);
  }
  return "";
}

}  // namespace

TokenDispatchSettings TokenDispatchSettings::from_env() {
  TokenDispatchSettings s;
  s.supabase_url = util::env_text("SUPABASE_URL");
  s.supabase_key = util::env_text("SUPABASE_ANON_KEY");
  s.flows_role_key = util::env_text("FLOWS_ROLE_KEY");
  s.public_backend_role_key = util::env_text("PUBLIC_BACKEND_ROLE_KEY");
  s.mediator_server = util::env_text("MEDIATOR_SERVER");
  s.max_parallel_jobs = util::env_int_at_least("MAX_PARALLEL_JOBS", 5, 1);
  return s;
}

TokenDispatchBatchJob::TokenDispatchBatchJob(TokenDispatchSettings settings, std::optional<std::string> esco)
    : settings_(std::move(settings)) {
  log_ = logger().bind({{"esco", esco ? util::Row(*esco) : util::Row(nullptr)}});
  check_environment(log_, {{{"SUPABASE_URL", "SUPABASE_ANON_KEY"},
                            "Environment variables SUPABASE_URL and SUPABASE_ANON_KEY not set.", 2},
                           {{"FLOWS_ROLE_KEY"}, "Environment variable FLOWS_ROLE_KEY not set.", 3},
                           {{"PUBLIC_BACKEND_ROLE_KEY"}, "Environment variable PUBLIC_BACKEND_ROLE_KEY not set.", 4},
                           {{"MEDIATOR_SERVER"}, "Environment variable MEDIATOR_SERVER not set.", 5}});
  esco_ = std::move(esco);
  flows_supabase_ = util::supa_client(*settings_.supabase_url, *settings_.supabase_key, *settings_.flows_role_key);
  backend_supabase_ = util::supa_client(*settings_.supabase_url, *settings_.supabase_key,
                                        *settings_.public_backend_role_key, "homeportal");
}

util::Response TokenDispatchBatchJob::_get_topups_query(const std::string& status,
                                                        const std::optional<std::vector<util::Row>>& meters) {
  auto q = backend_supabase_->table("topups").select("id, meter, token, status, meters(serial)").eq("status", status)
               .is_("used_at", "null");
  if (meters) q.in_("meter", *meters);  // an empty list selects nothing
  return q.execute();
}

void TokenDispatchBatchJob::run(const std::string& status) {
  log_.info("Starting token push job...");
  util::Response topups_result;
  if (esco_ && !esco_->empty()) {
    auto escos = find_escos(*backend_supabase_, *esco_);
    if (escos.empty()) {
      log_.error("No esco found for " + *esco_);
      throw util::ExitRequest{10};
    }
    std::vector<util::Row> supply_meters;
    for (const auto& p : util::as_list(backend_supabase_->table("properties").select("supply_meter")
                                           .eq("esco", escos.front()["id"]).execute())) {
      if (!p["supply_meter"].is_null()) supply_meters.push_back(p["supply_meter"]);
    }
    topups_result = _get_topups_query(status, supply_meters);
  } else {
    topups_result = _get_topups_query(status);
  }
  auto topups = util::as_list(topups_result);
  if (topups.empty()) {
    log_.info("No topups in status " + status);
    return;
  }
  log_.info("Found " + std::to_string(topups.size()) + " topups requiring token push");
  std::set<std::string> serials;
  for (const auto& t : topups) serials.insert(serial_of(t));
  std::map<std::string, util::Row> active_meters_by_serial;
  for (const auto& serial : serials) {
    auto rows = util::as_list(flows_supabase_->table("meter_registry").select("id, serial").eq("serial", serial)
                                  .eq("mode", "active").execute());
    if (!rows.empty()) active_meters_by_serial[serial] = rows.front();
  }
  std::set<std::string> missing_serials;
  std::vector<util::Row> valid_topups;
  for (const auto& t : topups) {
    std::string serial = serial_of(t);
    if (!active_meters_by_serial.count(serial)) {
      missing_serials.insert(serial);
      log_.warning("Topup " + text(t["id"]) + " has no active meter " + serial + " in meter_registry",
                   {{"serial", serial}, {"topup", t["id"]}});
    } else {
      valid_topups.push_back(t);
    }
  }
  if (!missing_serials.empty()) {
    std::string list = "[";
    for (const auto& s : missing_serials) list += (list.size() > 1 ? ", '" : "'") + s + "'";
    list += "]";
    log_.warning("Found " + std::to_string(missing_serials.size()) + " topups with no active meters: " + list);
  }
  if (valid_topups.empty()) {
    log_.warning("No valid topups with active meters found");
    return;
  }
  log_.info("Processing " + std::to_string(valid_topups.size()) + " valid topups with active meters");
  auto results = util::map_in_pool(static_cast<std::size_t>(settings_.max_parallel_jobs), valid_topups,
                                   [this](const util::Row& t) { return run_job(t); }, log_);
  std::size_t success = static_cast<std::size_t>(std::count(results.begin(), results.end(), true));
  log_.info("Finished token push job. Success: " + std::to_string(success) + "/" + std::to_string(valid_topups.size()));
}

bool TokenDispatchBatchJob::run_job(const util::Row& topup) {
  std::string topup_id = text(topup["id"]);
  std::string token = topup["token"].is_string() ? topup["token"].get<std::string>() : "";
  std::string serial = serial_of(topup);
  auto rows = util::as_list(flows_supabase_->table("meter_registry").select("*").eq("serial", serial)
                                .eq("mode", "active").execute());
  if (rows.empty()) {
    log_.error("No active meter found in meter_registry with serial " + serial);
    backend_supabase_->table("topups")
        .update({{"status", "failed_token_push"}, {"notes", "No active meter found in meter_registry"}})
        .eq("id", topup["id"])
        .execute();
    return false;
  }
  std::string meter_id = text(rows.front()["id"]);
  try {
    log_.info("run_job", {{"topup_id", topup["id"]}, {"meter_id", meter_id}, {"serial", serial},
                          {"mediator_address", *settings_.mediator_server}});
    PushTopupTokenJob job({topup_id, meter_id, serial, token, *settings_.mediator_server}, *backend_supabase_);
    return job.push();
  } catch (const std::exception& e) {
    log_.error("Failure occurred pushing token",
               {{"error", util::describe_exception(e)}, {"exception", util::format_exception(e)}});
    return false;
  }
}

}  // namespace meterops::jobs
