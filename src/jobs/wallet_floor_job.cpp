#include "jobs/wallet_floor_job.hpp"

#include "jobs/job_frame.hpp"
#include "jobs/util.hpp"
#include "mediator/api_prepay.hpp"
#include "util/decimal.hpp"
#include "util/errors.hpp"
#include "util/settings.hpp"

namespace meterops::jobs {

namespace {

const util::Logger& logger() {
  static const util::Logger log = util::get_logger("jobs.wallet_floor_job", __FILE__);
  return log;
}

// Balances compare as exact decimals of their written form, so 10.1 equals
// 10.10 and no binary rounding decides a floor.
std::optional<util::Decimal> amount(const util::Row& v, const char* what) {
  if (v.is_null()) return std::nullopt;
  if (v.is_number()) return util::Decimal::from_string(v.dump());
  if (v.is_string()) {
    if (auto d = util::Decimal::parse(v.get<std::string>())) return d;
  }
  throw util::TypeError(std::string(what) + " is not a number: " + v.dump());
}

// The plain text form of a report value; "None" when empty.
std::string plain(const util::Row& v) {
  if (v.is_null()) return "None";
  if (v.is_string()) return v.get<std::string>();
  return v.dump();
}

bool less(const util::Row& a, const char* a_what, const util::Row& b, const char* b_what) {
  auto x = amount(a, a_what);
  auto y = amount(b, b_what);
  if (!x || !y) throw util::TypeError(std::string("cannot compare ") + a_what + " with an empty " + b_what);
  return *x < *y;
}

}  // namespace

WalletFloorSettings WalletFloorSettings::from_env() {
  return {util::env_text("SUPABASE_URL"), util::env_text("SUPABASE_ANON_KEY"), util::env_text("PUBLIC_BACKEND_ROLE_KEY"),
          util::env_text("FLY_REGION"), util::env_text("MEDIATOR_SERVER")};
}

WalletFloorJob::WalletFloorJob(WalletFloorSettings settings, std::ostream& out) : settings_(std::move(settings)), out_(out) {
  log_ = logger();
  check_environment(log_, {{{"SUPABASE_URL", "SUPABASE_ANON_KEY"},
                            "Environment variables SUPABASE_URL and SUPABASE_ANON_KEY not set.", 2},
                           {{"PUBLIC_BACKEND_ROLE_KEY"}, "Environment variable PUBLIC_BACKEND_ROLE_KEY not set.", 3},
                           {{"FLY_REGION"}, "Environment variable FLY_REGION not set.", 4},
                           {{"MEDIATOR_SERVER"}, "Environment variable MEDIATOR_SERVER not set.", 5}});
  backend_supabase_ = util::supa_client(*settings_.supabase_url, *settings_.supabase_key,
                                        *settings_.public_backend_role_key, "homeportal");
}

void WalletFloorJob::run() {
  log_.info("Starting wallet_floor job...");
  try {
    auto meters = util::as_list(
        backend_supabase_->table("meters")
            .select("id, serial, balance, wallet, wallets(id, balance, minimum_balance, target_balance, auto_topup)")
            .execute());
    std::vector<util::Row> needing;
    for (const auto& m : meters) {
      const util::Row& wallet = m.contains("wallets") ? m["wallets"] : util::Row();
      util::Row meter_id = m.value("id", util::Row()), serial = m.value("serial", util::Row());
      if (!wallet.is_object()) {
        log_.warning("Meter has no associated wallet", {{"meter_id", meter_id}, {"serial", serial}});
        continue;
      }
      util::Row balance = m.value("balance", util::Row());
      util::Row minimum = wallet.value("minimum_balance", util::Row());
      if (balance.is_null() || !less(balance, "balance", minimum, "minimum_balance")) continue;
      if (wallet.value("auto_topup", util::Row()) != true) {
        log_.info("Meter below minimum but auto_topup disabled",
                  {{"meter_id", meter_id}, {"serial", serial}, {"meter_balance", balance}, {"wallet_minimum_balance", minimum}});
        continue;
      }
      try {
        mediator::VantorPrepayAPI api(*settings_.mediator_server, util::Level::info);
        util::Row latest = api.prepay_balance(serial.is_string() ? serial.get<std::string>() : serial.dump());
        log_.info("Fetched latest prepay balance from meter",
                  {{"serial", serial}, {"latest_balance", latest}, {"wallet_minimum_balance", minimum}});
        if (less(latest, "latest balance", minimum, "minimum_balance")) {
          needing.push_back({{"meter_id", meter_id}, {"serial", serial}, {"meter_balance", latest},
                             {"wallet_id", wallet.value("id", util::Row())}, {"wallet_minimum_balance", minimum},
                             {"wallet_target_balance", wallet.value("target_balance", util::Row())},
                             {"wallet_current_balance", wallet.value("balance", util::Row())}});
          log_.info("Meter needs topup", {{"meter_id", meter_id}, {"serial", serial}, {"meter_balance", latest},
                                          {"wallet_minimum_balance", minimum}});
        } else {
          log_.info("Meter balance is now above minimum (likely topped up)",
                    {{"meter_id", meter_id}, {"serial", serial}, {"latest_balance", latest}, {"wallet_minimum_balance", minimum}});
        }
      } catch (const std::exception& e) {
        log_.warning("Failed to fetch latest balance from meter",
                     {{"meter_id", meter_id}, {"serial", serial}, {"error", util::describe_exception(e)}});
      }
    }
    log_.info("Found " + std::to_string(needing.size()) + " meters needing topup", {{"count", needing.size()}});
    out_ << "\n=== METERS NEEDING TOPUP ===\n";
    for (const auto& r : needing) {
      out_ << "\nMeter ID: " << plain(r["meter_id"]) << "\n";
      out_ << "  Serial: " << plain(r["serial"]) << "\n";
      out_ << "  Meter Balance: " << plain(r["meter_balance"]) << "\n";
      out_ << "  Wallet ID: " << plain(r["wallet_id"]) << "\n";
      out_ << "  Wallet Minimum Balance: " << plain(r["wallet_minimum_balance"]) << "\n";
      out_ << "  Wallet Target Balance: " << plain(r["wallet_target_balance"]) << "\n";
      out_ << "  Wallet Current Balance: " << plain(r["wallet_current_balance"]) << "\n";
    }
    out_ << "\nTotal meters needing topup: " << needing.size() << "\n";
    out_ << "=== END RESULTS ===\n\n";
    out_.flush();
  } catch (const util::ConnectError& e) {
    handle_supabase_faliure(log_, e);
    throw util::ExitRequest{5};
  } catch (const std::exception& e) {
    log_.error("Failure occurred during wallet_floor job",
               {{"error", util::describe_exception(e)}, {"exception", util::format_exception(e)}});
    throw util::ExitRequest{6};
  }
}

}  // namespace meterops::jobs
