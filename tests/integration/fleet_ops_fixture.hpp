// The seeded operator and customer databases, mediator_sim and the program
// runner shared by the fleet operation programs' process tests.
#pragma once

#include <filesystem>

#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/mediator_sim.hpp"
#include "support/pg.hpp"
#include "support/process.hpp"

namespace mt = meterops::testing;
namespace fs = std::filesystem;
using nlohmann::json;

namespace fleet_ops {

using Env = std::map<std::string, std::optional<std::string>>;

mt::ProcessResult run(const std::string& prog, const std::vector<std::string>& args, Env env) {
  mt::ProcessOptions o;
  o.env = {{"LOG_FORMAT", std::nullopt}, {"MAX_PARALLEL_JOBS", std::nullopt}};
  for (auto& [k, v] : env) o.env[k] = v;
  return mt::run_process(mt::bin_path(prog), args, o);
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const char* kSeed = R"SQL(
INSERT INTO escos (id, code) VALUES ('e1', 'ACME'), ('e2', 'a_me');
INSERT INTO meter_registry (id, serial, esco, mode, ip_address, hardware, prepay_enabled) VALUES
  ('m1', 'S1', 'e1', 'active', '10.0.0.1', 'P1.bx', true),
  ('m2', 'S2', 'e1', 'active', '10.0.0.2', 'P1.ax', true),
  ('m3', 'S3', 'e1', 'active', '10.0.0.3', 'P1.cx', true),
  ('m4', 'S4', 'e1', 'active', '10.0.0.4', NULL, true),
  ('m5', 'S5', 'e1', 'active', '10.0.0.5', 'P3.ax', true),
  ('m6', 'S6', 'e1', 'active', '10.0.0.6', 'P3.bx', false),
  ('m7', 'S7', 'e1', 'inactive', '10.0.0.7', 'P1.bx', true),
  ('m8', 'S8', 'e2', 'active', '10.0.0.8', 'P1.bx', true);
INSERT INTO homeportal.escos (id, code) VALUES ('he1', 'ACME'), ('he2', 'NOPROPS');
INSERT INTO homeportal.wallets (id, balance, minimum_balance, target_balance, auto_topup) VALUES
  ('w1', 50, 10.10, 30, true), ('w2', 5, 10, NULL, false), ('w3', 1, 10, 20, true), ('w4', 2, 10, NULL, true);
INSERT INTO homeportal.meters (id, serial, balance, wallet) VALUES
  ('hm1', 'S1', 9.99, 'w1'), ('hm2', 'S2', 5, 'w2'), ('hm3', 'S3', 10.1, 'w1'), ('hm4', 'S4', NULL, 'w3'),
  ('hm5', 'S5', 3, 'w3'), ('hm6', 'S6', 1, 'w4'), ('hm7', 'S7', 1, NULL), ('hm9', 'S9', 2, 'w3');
INSERT INTO homeportal.properties (id, esco, supply_meter) VALUES ('p1', 'he1', 'hm1'), ('p2', 'he1', 'hm7');
INSERT INTO homeportal.topups (id, meter, token, status, used_at) VALUES
  ('t1', 'hm1', '1111', 'wait_token_push', NULL),
  ('t2', 'hm7', '7777', 'wait_token_push', NULL),
  ('t3', 'hm7', '7778', 'wait_token_push', NULL),
  ('t4', 'hm2', '2222', 'wait_token_push', NULL),
  ('t5', 'hm5', '5555', 'failed_token_push', NULL),
  ('t6', 'hm1', '1112', 'wait_token_push', '2024-01-01T00:00:00Z');
)SQL";

struct Fixture {
  mt::TestDatabase db;
  mt::MediatorSim sim;
  Fixture(json meters = json::object()) : sim(meters) { db.exec(kSeed); }
  Env env() {
    return {{"SUPABASE_URL", db.url()}, {"SUPABASE_ANON_KEY", "anon"}, {"FLOWS_ROLE_KEY", "flows-secret"},
            {"PUBLIC_BACKEND_ROLE_KEY", "backend-secret"}, {"MEDIATOR_SERVER", sim.address()},
            {"FLY_REGION", "lhr"}, {"SUPABASE_ACCESS_TOKEN", "token-secret"}};
  }
};

struct CliCase {
  std::vector<std::string> args;
  Env env;  // changes to the fixture's settings
  int status;
  std::string err;  // a text standard error must hold
};

// Runs `prog` once per case: the exit status, the message, no key in any
// output, and no mediator call.
inline void expect_cli_cases(Fixture& f, const std::string& prog, const std::vector<CliCase>& cases) {
  for (const auto& c : cases) {
    Env env = f.env();
    for (auto& [k, v] : c.env) env[k] = v;
    auto r = run(prog, c.args, env);
    EXPECT_EQ(r.status, c.status) << prog << " " << r.err;
    EXPECT_TRUE(has(r.err, c.err)) << prog << ": " << r.err;
    for (const char* secret : {"flows-secret", "backend-secret", "token-secret"}) {
      EXPECT_FALSE(has(r.err + r.out, secret)) << prog << " leaked a key: " << r.err;
    }
  }
  EXPECT_TRUE(f.sim.journal().empty());
}

}  // namespace fleet_ops

using namespace fleet_ops;
