#include "jobs/clock_drift_repair.hpp"

#include <algorithm>

#include "jobs/job_frame.hpp"
#include "jobs/util.hpp"
#include "mediator/api_core.hpp"
#include "orchestrate/adapter/factory.hpp"
#include "util/errors.hpp"
#include "util/settings.hpp"
#include "util/worker_pool.hpp"
#include "vantor/codec/epoch.hpp"

namespace meterops::jobs {

namespace {

const util::Logger& logger() {
  static const util::Logger log = util::get_logger("jobs.clock_drift_repair", __FILE__);
  return log;
}

std::string text(const util::Row& v) { return v.is_string() ? v.get<std::string>() : v.dump(); }

}  // namespace

ClockDriftSettings ClockDriftSettings::from_env() {
  ClockDriftSettings s;
  s.supabase_url = util::env_text("SUPABASE_URL");
  s.supabase_key = util::env_text("SUPABASE_ANON_KEY");
  s.flows_role_key = util::env_text("FLOWS_ROLE_KEY");
  s.env = util::env_text("ENV");
  s.max_parallel_jobs = util::env_int_at_least("MAX_PARALLEL_JOBS", 5, 1);
  s.drift_threshold_seconds = util::env_int("DRIFT_THRESHOLD_SECONDS", 20);
  return s;
}

ClockDriftRepairJob::ClockDriftRepairJob(ClockDriftSettings settings, std::optional<std::string> esco,
                                         std::shared_ptr<orchestrate::OrchestratorCore> containers)
    : settings_(std::move(settings)) {
  log_ = logger().bind({{"esco", esco ? util::Row(*esco) : util::Row(nullptr)}});
  check_environment(log_, {{{"SUPABASE_URL", "SUPABASE_ANON_KEY"},
                            "Environment variables SUPABASE_URL and SUPABASE_ANON_KEY not set.", 2},
                           {{"FLOWS_ROLE_KEY"}, "Environment variable FLOWS_ROLE_KEY not set.", 3}});
  esco_ = std::move(esco);
  containers_ = containers ? std::move(containers) : orchestrate::get_instance(esco_, settings_.env);
  flows_supabase_ = util::supa_client(settings_.supabase_url.value(), settings_.supabase_key.value(),
                                      settings_.flows_role_key.value());
}

void ClockDriftRepairJob::run() {
  log_.info("Starting clock drift repair job...");
  bool by_esco = esco_ && !esco_->empty();
  std::vector<util::Row> records;
  try {
    std::string select = "clock_time_diff_seconds, id, meter_registry!inner(serial, mode";
    if (by_esco) select += ", escos!inner(code)";
    select += ")";
    auto q = flows_supabase_->table("meter_shadows").select(select).gt("clock_time_diff_seconds", settings_.drift_threshold_seconds)
                 .eq("meter_registry.mode", "active");
    if (by_esco) q.eq("meter_registry.escos.code", *esco_);
    auto response = q.execute();
    log_.info("Raw database response", {{"data", response.data}});
    records = util::as_list(response);
  } catch (const util::ConnectError& e) {
    handle_supabase_faliure(log_, e);
    log_.error("Failed to query meter_shadows", {{"error", util::describe_exception(e)}});
    throw util::ExitRequest{1};
  } catch (const std::exception& e) {
    log_.error("Failed to query meter_shadows", {{"error", util::describe_exception(e)}});
    throw util::ExitRequest{1};
  }
  if (by_esco) {
    std::size_t original = records.size();
    std::vector<util::Row> kept;
    for (auto& r : records) {
      if (r.is_object() && r.contains("meter_registry") && r["meter_registry"].is_object() &&
          r["meter_registry"].contains("escos") && r["meter_registry"]["escos"].is_object() &&
          r["meter_registry"]["escos"].value("code", util::Row()) == *esco_) {
        kept.push_back(std::move(r));
      }
    }
    log_.info("Post-filtered by esco " + *esco_, {{"original_count", original}, {"filtered_count", kept.size()}});
    records = std::move(kept);
  }
  std::vector<util::Row> drifted;
  for (const auto& r : records) {
    if (!r.is_object() || !r.contains("meter_registry") || !r["meter_registry"].is_object()) continue;
    drifted.push_back({{"id", r.value("id", util::Row())},
                       {"serial", r["meter_registry"].value("serial", util::Row())},
                       {"clock_time_diff_seconds", r.value("clock_time_diff_seconds", util::Row())}});
  }
  log_.info("Found " + std::to_string(drifted.size()) + " meters with clock drift > " +
                std::to_string(settings_.drift_threshold_seconds) + "s",
            {{"drifted_meters", drifted}});
  if (drifted.empty()) {
    log_.info("No meters to update.");
    return;
  }
  auto results = util::map_in_pool(static_cast<std::size_t>(settings_.max_parallel_jobs), drifted,
                                   [this](const util::Row& r) { return run_job(r); }, log_);
  std::size_t success = static_cast<std::size_t>(std::count(results.begin(), results.end(), true));
  log_.info("Finished clock update job. Success: " + std::to_string(success) + "/" + std::to_string(drifted.size()));
}

bool ClockDriftRepairJob::run_job(const util::Row& record) {
  if (!record.is_object()) throw util::ArgumentTypeError("meter_drift_record must be a map");
  std::string serial = text(record.value("serial", util::Row()));
  util::Row drift = record.value("clock_time_diff_seconds", util::Row());
  std::string meter_id = text(record.value("id", util::Row()));
  auto address = containers_->mediator_address(meter_id, serial);
  if (!address) {
    log_.error("No mediator container exists for meter " + serial);
    return false;
  }
  try {
    log_.info("Updating clock", {{"meter_id", meter_id}, {"serial", serial}, {"mediator_address", *address},
                                 {"drift_seconds", drift}});
    mediator::VantorMediatorAPI client(*address);
    client.clock_time_write(serial);
    auto now = std::chrono::time_point_cast<std::chrono::microseconds>(std::chrono::system_clock::now());
    flows_supabase_->table("meter_shadows")
        .update({{"clock_time_diff_seconds", 0}, {"clock_time_diff_synced_at", vantor::codec::format_iso_utc(now)}})
        .eq("id", record["id"])
        .execute();
    log_.info("Clock update successful", {{"serial", serial}});
    return true;
  } catch (const mediator::MediatorClientException& e) {
    if (e.code_str() == "DEADLINE_EXCEEDED") {
      log_.error("Deadline exceeded updating clock", {{"serial", serial}, {"error", e.what()}});
    } else {
      log_.error("Mediator client error updating clock",
                 {{"serial", serial}, {"error", util::describe_exception(e)}, {"exception", util::format_exception(e)}});
    }
  } catch (const std::exception& e) {
    log_.error("Failure occurred updating clock",
               {{"serial", serial}, {"error", util::describe_exception(e)}, {"exception", util::format_exception(e)}});
  }
  return false;
}

}  // namespace meterops::jobs
