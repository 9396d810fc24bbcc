#include "jobs/credit_mode_sweep.hpp"

#include "jobs/job_frame.hpp"
#include "util/errors.hpp"
#include "util/settings.hpp"
#include "util/worker_pool.hpp"

namespace meterops::jobs {

namespace {

const util::Logger& logger() {
  static const util::Logger log = util::get_logger("jobs.credit_mode_sweep", __FILE__);
  return log;
}

std::string text(const util::Row& v) { return v.is_string() ? v.get<std::string>() : v.dump(); }

}  // namespace

CreditModeSweepJob::CreditModeSweepJob(util::Row meter, std::string mediator_address, util::Client supabase)
    : meter_(std::move(meter)),
      mediator_address_(std::move(mediator_address)),
      supabase_(std::move(supabase)),
      vantor_client_(mediator_address_) {
  log_ = logger().bind({{"serial", meter_.value("serial", util::Row())},
                        {"meter_id", meter_.value("id", util::Row())},
                        {"mediator_address", mediator_address_}});
}

bool CreditModeSweepJob::update() {
  try {
    vantor_client_.prepay_enabled_write(text(meter_["serial"]), false);
    log_.info("prepay disabled");
    return true;
  } catch (const mediator::MediatorClientException& e) {
    log_.error("Mediator client failure", {{"error", util::describe_exception(e)}, {"exception", util::format_exception(e)}});
  } catch (const std::exception& e) {
    log_.error("Unknown failure during prepay_enabled flag disable",
               {{"error", util::describe_exception(e)}, {"exception", util::format_exception(e)}});
  }
  return false;
}

CreditModeSweepSettings CreditModeSweepSettings::from_env() {
  return {util::env_text("SUPABASE_URL"), util::env_text("SUPABASE_ANON_KEY"), util::env_text("FLOWS_ROLE_KEY"),
          util::env_text("MEDIATOR_SERVER")};
}

CreditModeSweepAllJob::CreditModeSweepAllJob(CreditModeSweepSettings settings, std::optional<std::string> esco)
    : settings_(std::move(settings)) {
  log_ = logger().bind({{"esco", esco ? util::Row(*esco) : util::Row(nullptr)}});
  check_environment(log_, {{{"SUPABASE_URL", "SUPABASE_ANON_KEY"},
                            "Environment variables SUPABASE_URL and SUPABASE_ANON_KEY not set.", 2},
                           {{"FLOWS_ROLE_KEY"}, "Environment variable FLOWS_ROLE_KEY not set.", 3},
                           {{"MEDIATOR_SERVER"}, "Environment variable MEDIATOR_SERVER not set.", 4}});
  esco_ = std::move(esco);
  flows_supabase_ = util::supa_client(*settings_.supabase_url, *settings_.supabase_key, *settings_.flows_role_key);
}

void CreditModeSweepAllJob::run() {
  log_.info("Starting credit_mode_sweep job...");
  // Without a code there is nothing to look up: a sweep never covers the
  // whole fleet.
  std::string code = esco_.value_or("");
  auto escos = code.empty() ? std::vector<util::Row>{} : find_escos(*flows_supabase_, code);
  if (escos.empty()) {
    log_.error("no esco found for " + code);
    throw util::ExitRequest{10};
  }
  auto q = flows_supabase_->table("meter_registry").select("*").eq("esco", escos.front()["id"]).eq("prepay_enabled", true);
  for (const auto& hw : kSweepExcludedHardware) q.neq("hardware", hw);
  auto meters = util::as_list(q.execute());
  if (meters.empty()) {
    log_.error("No meter found to disable");
    throw util::ExitRequest{10};
  }
  log_.info("Processing " + std::to_string(meters.size()) + " meters");
  // Collect per unit so one escaped error is logged and counted, not fatal.
  std::vector<std::future<bool>> futures;
  {
    util::WorkerPool pool(kPoolSize);
    for (const auto& m : meters) futures.push_back(pool.submit([this, &m] { return run_job(m); }));
  }
  std::size_t success = 0;
  for (auto& f : futures) {
    try {
      if (f.get()) ++success;
    } catch (const std::exception& e) {
      log_.error(std::string("Error processing meter: ") + e.what());
    }
  }
  log_.info("Finished credit_mode_sweep job. Success: " + std::to_string(success) + "/" + std::to_string(meters.size()));
}

bool CreditModeSweepAllJob::run_job(const util::Row& meter_row) {
  log_.info("run_job for meter_row " + meter_row.dump());
  std::string meter_id = text(meter_row.value("id", util::Row()));
  std::string serial = text(meter_row.value("serial", util::Row()));
  try {
    log_.info("run_job", {{"meter_id", meter_id}, {"serial", serial}, {"mediator_address", *settings_.mediator_server}});
    CreditModeSweepJob job(meter_row, *settings_.mediator_server, *flows_supabase_);
    return job.update();
  } catch (const std::exception& e) {
    log_.error("Failure occurred sweeping meter " + meter_id,
               {{"error", util::describe_exception(e)}, {"exception", util::format_exception(e)}});
    return false;
  }
}

}  // namespace meterops::jobs
