#include "jobs/push_topup_token.hpp"

#include "mediator/api_prepay.hpp"
#include "util/errors.hpp"
#include "vantor/codec/epoch.hpp"

namespace meterops::jobs {

namespace {
const util::Logger& logger() {
  static const util::Logger log = util::get_logger("jobs.push_topup_token", __FILE__);
  return log;
}
}  // namespace

PushTopupTokenJob::PushTopupTokenJob(PushTopupTokenOptions options, util::Client supabase)
    : o_(std::move(options)), supabase_(std::move(supabase)) {
  log_ = logger().bind({{"topup_id", o_.topup_id}, {"meter_id", o_.meter_id}, {"serial", o_.serial}});
}

bool PushTopupTokenJob::push() {
  try {
    mediator::VantorPrepayAPI api(o_.mediator_address);
    api.token_push(o_.serial, o_.token);
  } catch (const mediator::MediatorClientException& e) {
    log_.error("Token push failed", {{"error", util::describe_exception(e)}, {"code", e.code_str()}});
    supabase_.table("topups")
        .update({{"status", "failed_token_push"}, {"notes", e.code_str() + ": " + e.what()}})
        .eq("id", o_.topup_id)
        .execute();
    return false;
  }
  auto now = std::chrono::time_point_cast<std::chrono::microseconds>(std::chrono::system_clock::now());
  supabase_.table("topups")
      .update({{"status", "token_pushed"}, {"used_at", vantor::codec::format_iso_utc(now)}})
      .eq("id", o_.topup_id)
      .execute();
  log_.info("Token pushed");
  return true;
}

}  // namespace meterops::jobs
