-- A small demo fleet: two ESCOs, single- and three-phase meters, a few
-- without an IP address, and the metrics of every syncer at every frequency.
INSERT INTO escos (id, code, name) VALUES ('esco-north', 'NORTH', 'Northern Energy'), ('esco-south', 'SOUTH', 'Southern Power');

INSERT INTO meter_registry (id, serial, esco, mode, ip_address, hardware, firmware_version, prepay_enabled)
SELECT 'meter-' || lpad(g::text, 3, '0'),
       'SN' || lpad((1000 + g)::text, 6, '0'),
       CASE WHEN g % 2 = 0 THEN 'esco-north' ELSE 'esco-south' END,
       CASE WHEN g % 11 = 0 THEN 'inactive' ELSE 'active' END,
       CASE WHEN g % 7 = 0 THEN NULL ELSE '10.20.0.' || g END,
       CASE WHEN g % 5 = 0 THEN 'P3.ax' WHEN g % 3 = 0 THEN NULL ELSE 'P1.ax' END,
       NULL,
       NULL
FROM generate_series(1, 36) g;

INSERT INTO meter_shadows (id, clock_time_diff_seconds)
SELECT id, (row_number() OVER (ORDER BY id)) * 3 FROM meter_registry;

INSERT INTO meter_metrics (name, run_frequency, enabled)
SELECT n, f, true
FROM unnest(ARRAY['EnergyTotalsSyncer', 'ModelCodeSyncer', 'FirmwareLevelSyncer', 'PaymentModeSyncer',
                  'TariffStateSyncer', 'EventJournalSyncer']) n,
     unnest(ARRAY['hourly', 'daily', '12hourly']) f;
