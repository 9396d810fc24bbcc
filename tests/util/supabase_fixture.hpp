// A small operator database for the database client tests.
#pragma once

#include <string>

namespace meterops::testing {

inline const std::string kSeedSql = R"SQL(
INSERT INTO escos (id, code) VALUES ('e1', 'ACME'), ('e2', 'a_me'), ('e3', 'Other');
INSERT INTO meter_registry (id, serial, esco, mode, ip_address, hardware, firmware_version, prepay_enabled) VALUES
  ('m1', 'S003', 'e1', 'active', '10.0.0.1', 'P1.ax', '1.0', true),
  ('m2', 'S001', 'e1', 'active', NULL, NULL, NULL, true),
  ('m3', 'S002', 'e1', 'inactive', '10.0.0.3', 'P3.ax', '2.0', false),
  ('m4', 'S004', 'e1', 'active', '', 'P1.bx', '1.1', true),
  ('m5', 'S005', 'e2', 'active', '10.0.0.5', 'P1.cx', '1.0', true);
INSERT INTO meter_shadows (id, clock_time_diff_seconds) VALUES ('m1', 20), ('m2', 45.5), ('m3', 100), ('m5', 30);
INSERT INTO meter_metrics (name, run_frequency, enabled) VALUES
  ('EnergyTotalsSyncer', 'hourly', true), ('ModelCodeSyncer', 'daily', true), ('TariffStateSyncer', 'hourly', false);
INSERT INTO meter_event_log (meter_id, "timestamp", event_type, event_set) VALUES
  ('m1', '2024-01-01T00:00:00Z', 3, 1), ('m1', '2024-01-02T10:30:00Z', 4, 1);
INSERT INTO homeportal.escos (id, code) VALUES ('he1', 'ACME');
INSERT INTO homeportal.wallets (id, balance, minimum_balance, target_balance, auto_topup) VALUES
  ('w1', 12.50, 10.10, 30, true), ('w2', NULL, 5, NULL, false);
INSERT INTO homeportal.meters (id, serial, balance, wallet) VALUES
  ('hm1', 'S003', 9.99, 'w1'), ('hm2', 'S001', 20, 'w2'), ('hm3', 'S009', NULL, NULL);
INSERT INTO homeportal.properties (id, esco, supply_meter) VALUES ('p1', 'he1', 'hm1'), ('p2', 'he1', 'hm2');
INSERT INTO homeportal.topups (id, meter, token, status, used_at) VALUES
  ('t1', 'hm1', '1111', 'wait_token_push', NULL),
  ('t2', 'hm2', '2222', 'wait_token_push', NULL),
  ('t3', 'hm3', '3333', 'wait_token_push', '2024-01-01T00:00:00Z'),
  ('t4', 'hm1', '4444', 'failed_token_push', NULL);
)SQL";

}  // namespace meterops::testing
