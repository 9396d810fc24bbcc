#!/usr/bin/env bash
# fleet_sync over N meters (default 2000) with mediator_sim answering after
# DELAY ms (default 20), pool 15: wall time against the ideal
# (meters x mediator calls per meter x delay / pool), peak memory, database
# round trips per meter and connections opened.
#   bench/fleet_sync_bench.sh [meters] [delay_ms]
set -euo pipefail
cd "$(dirname "$0")/.."
meters=${1:-2000}
delay=${2:-20}
pool=${MAX_PARALLEL_JOBS:-15}
BUILD_DIR=${BUILD_DIR:-build}
cmake --build "$BUILD_DIR" --target fleet_sync mediator_sim >/dev/null
work=$(mktemp -d /tmp/meterops-fsbench.XXXXXX)
chmod 755 "$work"  # the database server runs as postgres
sim_pid=""
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; scripts/testdb stop "$work/db"; rm -rf "$work"; }
trap cleanup EXIT
eval "$(scripts/testdb start "$work/db")"
url="$METEROPS_TEST_PG/bench"
psql -q "$METEROPS_TEST_PG/postgres" -c "CREATE DATABASE bench TEMPLATE meterops_template"
psql -q "$url" <<SQL
INSERT INTO escos (id, code) VALUES ('e1', 'BENCH');
INSERT INTO meter_registry (id, serial, esco, mode, ip_address, hardware, firmware_version, prepay_enabled)
SELECT 'm' || g, 'S' || g, 'e1', 'active', '10.0.0.1', 'P1.ax', '1.0.0', true FROM generate_series(1, $meters) g;
INSERT INTO meter_metrics (name, run_frequency, enabled)
SELECT n, 'hourly', true FROM unnest(ARRAY['EnergyTotalsSyncer','ModelCodeSyncer','FirmwareLevelSyncer',
  'PaymentModeSyncer','TariffStateSyncer','EventJournalSyncer']) n;
SQL
"$BUILD_DIR/bin/mediator_sim" --listen 127.0.0.1:0 --port-file "$work/port" --delay-ms "$delay" \
  --journal "$work/journal" 2>/dev/null &
sim_pid=$!
for _ in $(seq 1 100); do [ -s "$work/port" ] && break; sleep 0.1; done

stat() { psql -At "$url" -c "SELECT xact_commit + xact_rollback FROM pg_stat_database WHERE datname = 'bench'"; }
sessions() { psql -At "$url" -c "SELECT sessions FROM pg_stat_database WHERE datname = 'bench'"; }
before=$(stat)
sessions_before=$(sessions)
start=$(date +%s.%N)
SUPABASE_URL="$url" SUPABASE_ANON_KEY=b FLOWS_ROLE_KEY=b MEDIATOR_SERVER="127.0.0.1:$(cat "$work/port")" \
MAX_PARALLEL_JOBS=$pool LOG_LEVEL=warning \
  /usr/bin/time -v -o "$work/time" "$BUILD_DIR/bin/fleet_sync" --freq hourly --esco BENCH 2>"$work/log"
end=$(date +%s.%N)
sleep 1  # statistics are flushed asynchronously
after=$(stat)
sessions_after=$(sessions)
calls=$(wc -l < "$work/journal")
wall=$(echo "$end - $start" | bc)
ideal=$(echo "scale=2; $calls * $delay / 1000 / $pool" | bc)
echo "meters:                  $meters (pool $pool, mediator delay ${delay} ms)"
echo "mediator calls:          $calls ($(echo "scale=2; $calls / $meters" | bc) per meter)"
echo "wall time:               ${wall} s"
echo "ideal (calls x delay / pool): ${ideal} s  -> ratio $(echo "scale=3; $wall / $ideal" | bc)"
echo "peak memory (max RSS):   $(grep 'Maximum resident' "$work/time" | awk '{print $NF}') KiB"
trips=$((after - before - 2))  # less the two statistics queries between the readings
echo "database round trips:    $trips ($(echo "scale=2; $trips / $meters" | bc) per meter)"
echo "connections opened:      $((sessions_after - sessions_before - 2)) (the script's own psql sessions left out)"
echo "failures logged:         $(grep -c 'failure occur' "$work/log" || true)"
