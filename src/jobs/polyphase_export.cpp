#include "jobs/polyphase_export.hpp"

#include <filesystem>

#include "profile_logs/replicas/replica_missing_file_utils.hpp"
#include "util/config.hpp"
#include "util/errors.hpp"

namespace meterops::jobs {

namespace {

const util::Logger& logger() {
  static const util::Logger log = util::get_logger("jobs.polyphase_export", __FILE__);
  return log;
}

std::chrono::sys_days parse_date(const std::string& text) {
  // YYYY-MM-DD, month and day of one or two digits, the whole text.
  if (auto d = profile_logs::replicas::parse_date(text)) return *d;
  throw util::ValueError("time data '" + text + "' does not match format '%Y-%m-%d'");
}

const std::string& setting(const std::map<std::string, std::optional<std::string>>& config, const char* key) {
  static const std::string empty;
  auto it = config.find(key);
  return it != config.end() && it->second ? *it->second : empty;
}

}  // namespace

PolyphaseExportJob::PolyphaseExportJob(PolyphaseExportOptions options) : o_(std::move(options)) {
  // The serial becomes part of file names: never let it leave the folder.
  if (o_.serial.empty() || o_.serial.find('/') != std::string::npos || o_.serial.find('\\') != std::string::npos ||
      o_.serial.find("..") != std::string::npos || o_.serial.find('\0') != std::string::npos) {
    throw util::ValueError("serial '" + o_.serial + "' cannot be used in a file name");
  }
  std::filesystem::create_directories(o_.folder);
  auto config = util::load_config();
  const std::string& token = setting(config, "supabase_access_token");
  const std::string& key = setting(config, "supabase_anon_key");
  const std::string& url = setting(config, "supabase_url");
  if (url.empty() || key.empty() || token.empty()) {
    throw util::GeneralError("SUPABASE_URL, SUPABASE_ANON_KEY and/or SUPABASE_ACCESS_TOKEN not set");
  }
  supabase_ = util::supa_client(url, key, token);
  auto response = supabase_->table("meter_registry").select("id,esco").eq("serial", o_.serial).execute();
  if (util::as_list(response).empty()) throw util::GeneralError("meter " + o_.serial + " not found");
  util::Row meter_id = util::as_first_item(response)["id"];
  const std::string& mediator_server = setting(config, "mediator_server");
  if (mediator_server.empty()) throw util::GeneralError("MEDIATOR_SERVER environment variable not set");
  vantor_client_ = std::make_unique<mediator::VantorMediatorAPI>(mediator_server, util::Level::info);
  log_ = logger().bind({{"serial", o_.serial}, {"meter_id", meter_id}, {"mediator_address", mediator_server}});
}

std::vector<std::string> PolyphaseExportJob::_generate_date_range() const {
  if (o_.day) return {*o_.day};
  if (o_.start_day && o_.end_day) {
    auto start = parse_date(*o_.start_day);
    auto end = parse_date(*o_.end_day);
    if (start > end) throw util::ValueError("start_day must be before or equal to end_day");
    std::vector<std::string> out;
    for (auto d = start; d <= end; d += std::chrono::days{1}) out.push_back(profile_logs::replicas::format_date(d));
    return out;
  }
  throw util::ValueError("Either --day or both --start-day and --end-day must be provided");
}

vantor::codec::DateTime PolyphaseExportJob::_parse_day(const std::string& day_str) {
  return vantor::codec::DateTime(parse_date(day_str));
}

std::string PolyphaseExportJob::_generate_csv_filename(const std::string& day) const {
  return (std::filesystem::path(o_.folder) / (o_.serial + "_" + day + "_intervals.csv")).string();
}

void PolyphaseExportJob::fetch_intervals() {
  try {
    for (const auto& day : _generate_date_range()) {
      auto day_dt = _parse_day(day);
      std::string csv = _generate_csv_filename(day);
      log_.info("Fetching polyphase_series", {{"day", day}, {"csv_file", csv}});
      mediator::PolyphaseSeriesRequest req{profile_logs::replicas::format_date(std::chrono::floor<std::chrono::days>(day_dt)),
                                           std::nullopt, std::nullopt, csv, o_.include_statuses};
      auto result = vantor_client_->polyphase_series(o_.serial, req);
      log_.info("Successfully fetched polyphase_series",
                {{"day", day}, {"csv_file", csv}, {"interval_count", result.intervals.size()}});
    }
  } catch (const mediator::MediatorClientException& e) {
    log_.error("Mediator client failure", {{"error", util::describe_exception(e)}, {"exception", util::format_exception(e)}});
    throw;
  } catch (const util::ValueError& e) {
    log_.error("Invalid date format or range", {{"error", util::describe_exception(e)}});
    throw;
  } catch (const std::exception& e) {
    log_.error("Unknown failure during polyphase_series fetch",
               {{"error", util::describe_exception(e)}, {"exception", util::format_exception(e)}});
    throw;
  }
}

}  // namespace meterops::jobs
