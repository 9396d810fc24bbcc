// Every query chain the syncers and jobs make, run two ways: against a real
// PostgreSQL through the direct backend (the rows that come back), and
// through the REST backend against a loopback server (the request on the
// wire: method, path, query, headers, body).
#include <functional>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "support/pg.hpp"
#include "supabase_fake_rest.hpp"
#include "supabase_fixture.hpp"
#include "util/supabase.hpp"

using namespace meterops;
using util::Row;

namespace {

enum class Db { flows, backend };

struct Chain {
  std::string name;
  Db db;
  std::function<util::QueryBuilder(const util::Client&)> build;
  // Direct backend: the exact rows (reads), or the fields every returned
  // row must carry (writes), plus a check query and its rows.
  std::string rows;
  bool exact = true;
  std::string check_sql = "";
  std::string check_rows = "";
  // REST backend: the request.
  std::string method = "GET";
  std::string path = "";
  std::string query = "";
  std::string body = "";
  std::string prefer = "<absent>";
};

const std::string kTopupSelect = "id, meter, token, status, meters(serial)";
const std::string kDriftSelect = "clock_time_diff_seconds, id, meter_registry!inner(serial, mode)";
const std::string kDriftEscoSelect = "clock_time_diff_seconds, id, meter_registry!inner(serial, mode, escos!inner(code))";
const std::string kWalletSelect = "id, serial, balance, wallet, wallets(id, balance, minimum_balance, target_balance, auto_topup)";

const std::vector<Chain>& chains() {
  static const std::vector<Chain> list = {
      // Register syncers and the meter helpers.
      {"model code", Db::flows, [](const util::Client& c) { return c.table("meter_registry").select("hardware,serial").eq("id", "m1"); },
       R"([{"hardware":"P1.ax","serial":"S003"}])", true, "", "", "GET", "/rest/v1/meter_registry",
       "select=hardware,serial&id=eq.m1"},
      {"firmware level", Db::flows,
       [](const util::Client& c) { return c.table("meter_registry").select("firmware_version,serial").eq("id", "m3"); },
       R"([{"firmware_version":"2.0","serial":"S002"}])", true, "", "", "GET", "/rest/v1/meter_registry",
       "select=firmware_version,serial&id=eq.m3"},
      {"payment mode hardware", Db::flows, [](const util::Client& c) { return c.table("meter_registry").select("hardware").eq("id", "m2"); },
       R"([{"hardware":null}])", true, "", "", "GET", "/rest/v1/meter_registry", "select=hardware&id=eq.m2"},
      // Event journal.
      {"newest stored event", Db::flows,
       [](const util::Client& c) {
         return c.table("meter_event_log").select("timestamp,event_type,event_set").eq("meter_id", "m1").order("timestamp", true).limit(1);
       },
       R"([{"timestamp":"2024-01-02T10:30:00+00:00","event_type":4,"event_set":1}])", true, "", "", "GET", "/rest/v1/meter_event_log",
       "select=timestamp,event_type,event_set&meter_id=eq.m1&order=timestamp.desc&limit=1"},
      {"no stored event", Db::flows,
       [](const util::Client& c) {
         return c.table("meter_event_log").select("timestamp,event_type,event_set").eq("meter_id", "m2").order("timestamp", true).limit(1);
       },
       "[]", true, "", "", "GET", "/rest/v1/meter_event_log",
       "select=timestamp,event_type,event_set&meter_id=eq.m2&order=timestamp.desc&limit=1"},
      // Metric refresh.
      {"refresh serial", Db::flows, [](const util::Client& c) { return c.table("meter_registry").select("serial").eq("id", "m4"); },
       R"([{"serial":"S004"}])", true, "", "", "GET", "/rest/v1/meter_registry", "select=serial&id=eq.m4"},
      {"enabled metrics", Db::flows,
       [](const util::Client& c) { return c.table("meter_metrics").select("*").eq("enabled", true).eq("run_frequency", "hourly"); },
       R"([{"id":1,"name":"EnergyTotalsSyncer","run_frequency":"hourly","enabled":true,"description":null}])", true, "", "", "GET",
       "/rest/v1/meter_metrics", "select=*&enabled=eq.true&run_frequency=eq.hourly"},
      // Fleet sync and credit mode sweep: ESCO lookup, meters.
      {"esco lookup", Db::flows, [](const util::Client& c) { return c.table("escos").select("id").ilike("code", "acme"); },
       R"([{"id":"e1"}])", true, "", "", "GET", "/rest/v1/escos", "select=id&code=ilike.acme"},
      {"fleet meters", Db::flows,
       [](const util::Client& c) {
         return c.table("meter_registry").select("id,ip_address,serial,hardware").eq("esco", "e1").eq("mode", "active").order("serial");
       },
       R"([{"id":"m2","ip_address":null,"serial":"S001","hardware":null},)"
       R"({"id":"m1","ip_address":"10.0.0.1","serial":"S003","hardware":"P1.ax"},)"
       R"({"id":"m4","ip_address":"","serial":"S004","hardware":"P1.bx"}])",
       true, "", "", "GET", "/rest/v1/meter_registry", "select=id,ip_address,serial,hardware&esco=eq.e1&mode=eq.active&order=serial.asc"},
      {"sweep meters", Db::flows,
       [](const util::Client& c) {
         return c.table("meter_registry").select("*").eq("esco", "e1").eq("prepay_enabled", true).neq("hardware", "P1.ax").neq("hardware", "P1.cx");
       },
       R"([{"id":"m4","serial":"S004","esco":"e1","mode":"active","ip_address":"","hardware":"P1.bx","firmware_version":"1.1",)"
       R"("prepay_enabled":true,"created_at":"2024-03-01T08:00:00+00:00"}])",
       true, "", "", "GET", "/rest/v1/meter_registry",
       "select=*&esco=eq.e1&prepay_enabled=eq.true&hardware=neq.P1.ax&hardware=neq.P1.cx"},
      // Token dispatch.
      {"backend esco lookup", Db::backend, [](const util::Client& c) { return c.table("escos").select("id").ilike("code", "Acme"); },
       R"([{"id":"he1"}])", true, "", "", "GET", "/rest/v1/escos", "select=id&code=ilike.Acme"},
      {"supply meters", Db::backend, [](const util::Client& c) { return c.table("properties").select("supply_meter").eq("esco", "he1"); },
       R"([{"supply_meter":"hm1"},{"supply_meter":"hm2"}])", true, "", "", "GET", "/rest/v1/properties", "select=supply_meter&esco=eq.he1"},
      {"topups of meters", Db::backend,
       [](const util::Client& c) {
         return c.table("topups").select(kTopupSelect).eq("status", "wait_token_push").is_("used_at", "null").in_("meter", {"hm1", "hm3"});
       },
       R"([{"id":"t1","meter":"hm1","token":"1111","status":"wait_token_push","meters":{"serial":"S003"}}])", true, "", "", "GET",
       "/rest/v1/topups", "select=id,meter,token,status,meters(serial)&status=eq.wait_token_push&used_at=is.null&meter=in.(hm1,hm3)"},
      {"topups of the fleet", Db::backend,
       [](const util::Client& c) { return c.table("topups").select(kTopupSelect).eq("status", "wait_token_push").is_("used_at", "null"); },
       R"([{"id":"t1","meter":"hm1","token":"1111","status":"wait_token_push","meters":{"serial":"S003"}},)"
       R"({"id":"t2","meter":"hm2","token":"2222","status":"wait_token_push","meters":{"serial":"S001"}}])",
       true, "", "", "GET", "/rest/v1/topups", "select=id,meter,token,status,meters(serial)&status=eq.wait_token_push&used_at=is.null"},
      {"active meter by serial", Db::flows,
       [](const util::Client& c) { return c.table("meter_registry").select("id, serial").eq("serial", "S003").eq("mode", "active"); },
       R"([{"id":"m1","serial":"S003"}])", true, "", "", "GET", "/rest/v1/meter_registry", "select=id,serial&serial=eq.S003&mode=eq.active"},
      {"inactive meter by serial", Db::flows,
       [](const util::Client& c) { return c.table("meter_registry").select("*").eq("serial", "S002").eq("mode", "active"); },
       "[]", true, "", "", "GET", "/rest/v1/meter_registry", "select=*&serial=eq.S002&mode=eq.active"},
      // Clock drift repair.
      {"drifted meters", Db::flows,
       [](const util::Client& c) {
         return c.table("meter_shadows").select(kDriftSelect).gt("clock_time_diff_seconds", 20).eq("meter_registry.mode", "active");
       },
       R"([{"clock_time_diff_seconds":45.5,"id":"m2","meter_registry":{"serial":"S001","mode":"active"}},)"
       R"({"clock_time_diff_seconds":30,"id":"m5","meter_registry":{"serial":"S005","mode":"active"}}])",
       true, "", "", "GET", "/rest/v1/meter_shadows",
       "select=clock_time_diff_seconds,id,meter_registry!inner(serial,mode)&clock_time_diff_seconds=gt.20&meter_registry.mode=eq.active"},
      {"drifted meters of an esco", Db::flows,
       [](const util::Client& c) {
         return c.table("meter_shadows").select(kDriftEscoSelect).gt("clock_time_diff_seconds", 20).eq("meter_registry.mode", "active")
             .eq("meter_registry.escos.code", "ACME");
       },
       R"([{"clock_time_diff_seconds":45.5,"id":"m2","meter_registry":{"serial":"S001","mode":"active","escos":{"code":"ACME"}}}])", true,
       "", "", "GET", "/rest/v1/meter_shadows",
       "select=clock_time_diff_seconds,id,meter_registry!inner(serial,mode,escos!inner(code))&clock_time_diff_seconds=gt.20"
       "&meter_registry.mode=eq.active&meter_registry.escos.code=eq.ACME"},
      // Wallet floor.
      {"meters with wallets", Db::backend, [](const util::Client& c) { return c.table("meters").select(kWalletSelect); },
       R"([{"id":"hm1","serial":"S003","balance":9.99,"wallet":"w1","wallets":{"id":"w1","balance":12.5,"minimum_balance":10.1,"target_balance":30,"auto_topup":true}},)"
       R"({"id":"hm2","serial":"S001","balance":20,"wallet":"w2","wallets":{"id":"w2","balance":null,"minimum_balance":5,"target_balance":null,"auto_topup":false}},)"
       R"({"id":"hm3","serial":"S009","balance":null,"wallet":null,"wallets":null}])",
       true, "", "", "GET", "/rest/v1/meters",
       "select=id,serial,balance,wallet,wallets(id,balance,minimum_balance,target_balance,auto_topup)"},
      // Polyphase export.
      {"export meter", Db::flows, [](const util::Client& c) { return c.table("meter_registry").select("id,esco").eq("serial", "S005"); },
       R"([{"id":"m5","esco":"e2"}])", true, "", "", "GET", "/rest/v1/meter_registry", "select=id,esco&serial=eq.S005"},

      // Writes, in the order they run against the one database.
      {"topup marked failed", Db::backend,
       [](const util::Client& c) {
         return c.table("topups").update({{"status", "failed_token_push"}, {"notes", "No active meter found in meter_registry"}}).eq("id", "t2");
       },
       R"([{"id":"t2","status":"failed_token_push","notes":"No active meter found in meter_registry","token":"2222"}])", false,
       "SELECT id, status FROM homeportal.topups WHERE status = 'failed_token_push' ORDER BY id",
       R"([{"id":"t2","status":"failed_token_push"},{"id":"t4","status":"failed_token_push"}])", "PATCH", "/rest/v1/topups", "id=eq.t2",
       R"({"status":"failed_token_push","notes":"No active meter found in meter_registry"})", "return=representation"},
      {"clock drift reset", Db::flows,
       [](const util::Client& c) {
         return c.table("meter_shadows").update({{"clock_time_diff_seconds", 0}, {"clock_time_diff_synced_at", "2025-06-01T10:20:30.000123+00:00"}})
             .eq("id", "m2");
       },
       R"([{"id":"m2","clock_time_diff_seconds":0,"clock_time_diff_synced_at":"2025-06-01T10:20:30.000123+00:00"}])", false,
       "SELECT id FROM meter_shadows WHERE clock_time_diff_seconds > 20 ORDER BY id", R"([{"id":"m3"},{"id":"m5"}])", "PATCH",
       "/rest/v1/meter_shadows", "id=eq.m2", R"({"clock_time_diff_seconds":0,"clock_time_diff_synced_at":"2025-06-01T10:20:30.000123+00:00"})",
       "return=representation"},
      {"registry update", Db::flows,
       [](const util::Client& c) { return c.table("meter_registry").update({{"hardware", nullptr}, {"prepay_enabled", false}}).eq("id", "m4"); },
       R"([{"id":"m4","hardware":null,"prepay_enabled":false}])", false,
       "SELECT id, hardware, prepay_enabled FROM meter_registry WHERE id IN ('m4', 'm5') ORDER BY id",
       R"([{"id":"m4","hardware":null,"prepay_enabled":false},{"id":"m5","hardware":"P1.cx","prepay_enabled":true}])", "PATCH",
       "/rest/v1/meter_registry", "id=eq.m4", R"({"hardware":null,"prepay_enabled":false})", "return=representation"},
      {"new events, one already stored", Db::flows,
       [](const util::Client& c) {
         Row rows = Row::array({Row{{"meter_id", "m1"}, {"timestamp", "2024-01-02T10:30:00+00:00"}, {"event_type", 4}, {"event_set", 1}},
                                Row{{"meter_id", "m1"}, {"timestamp", "2024-01-03T00:00:00+00:00"}, {"event_type", 7}, {"event_set", 2}}});
         return c.table("meter_event_log").upsert(rows, "meter_id,timestamp,event_type", true);
       },
       R"([{"meter_id":"m1","timestamp":"2024-01-03T00:00:00+00:00","event_type":7,"event_set":2}])", false,
       R"(SELECT "timestamp", event_type FROM meter_event_log WHERE meter_id = 'm1' ORDER BY "timestamp")",
       R"([{"timestamp":"2024-01-01T00:00:00+00:00","event_type":3},{"timestamp":"2024-01-02T10:30:00+00:00","event_type":4},)"
       R"({"timestamp":"2024-01-03T00:00:00+00:00","event_type":7}])",
       "POST", "/rest/v1/meter_event_log", "on_conflict=meter_id,timestamp,event_type",
       R"([{"meter_id":"m1","timestamp":"2024-01-02T10:30:00+00:00","event_type":4,"event_set":1},)"
       R"({"meter_id":"m1","timestamp":"2024-01-03T00:00:00+00:00","event_type":7,"event_set":2}])",
       "return=representation,resolution=ignore-duplicates"},
      {"no events to insert", Db::flows,
       [](const util::Client& c) { return c.table("meter_event_log").upsert(Row::array(), "meter_id,timestamp,event_type", true); }, "[]",
       true, "SELECT count(*) AS n FROM meter_event_log", R"([{"n":3}])", "POST", "/rest/v1/meter_event_log",
       "on_conflict=meter_id,timestamp,event_type", "[]", "return=representation,resolution=ignore-duplicates"},
      {"latest readings", Db::flows,
       [](const util::Client& c) {
         Row rows = Row::array({Row{{"meter_id", "m1"}, {"metric", "import_a"}, {"value", 1234.5}, {"read_at", "2025-01-01T00:00:00+00:00"}},
                                Row{{"meter_id", "m1"}, {"metric", "tariffs_active"}, {"value", "T1"}, {"read_at", "2025-01-01T00:00:00+00:00"}},
                                Row{{"meter_id", "m1"}, {"metric", "tariffs"}, {"value", Row{{"rate", 0.25}, {"name", "day"}}},
                                    {"read_at", "2025-01-01T00:00:00+00:00"}}});
         return c.table("meter_readings").upsert(rows, "meter_id,metric");
       },
       // jsonb keeps its own key order.
       R"([{"metric":"import_a","value":1234.5},{"metric":"tariffs_active","value":"T1"},{"metric":"tariffs","value":{"name":"day","rate":0.25}}])",
       false, "SELECT metric, value FROM meter_readings ORDER BY metric",
       R"([{"metric":"import_a","value":1234.5},{"metric":"tariffs","value":{"name":"day","rate":0.25}},{"metric":"tariffs_active","value":"T1"}])",
       "POST", "/rest/v1/meter_readings", "on_conflict=meter_id,metric",
       R"([{"meter_id":"m1","metric":"import_a","value":1234.5,"read_at":"2025-01-01T00:00:00+00:00"},)"
       R"({"meter_id":"m1","metric":"tariffs_active","value":"T1","read_at":"2025-01-01T00:00:00+00:00"},)"
       R"({"meter_id":"m1","metric":"tariffs","value":{"rate":0.25,"name":"day"},"read_at":"2025-01-01T00:00:00+00:00"}])",
       "return=representation,resolution=merge-duplicates"},
      {"reading replaced", Db::flows,
       [](const util::Client& c) {
         return c.table("meter_readings")
             .upsert(Row::array({Row{{"meter_id", "m1"}, {"metric", "import_a"}, {"value", 1300}, {"read_at", "2025-01-02T00:00:00+00:00"}}}),
                     "meter_id,metric");
       },
       R"([{"metric":"import_a","value":1300,"read_at":"2025-01-02T00:00:00+00:00"}])", false,
       "SELECT value FROM meter_readings WHERE metric = 'import_a'", R"([{"value":1300}])", "POST", "/rest/v1/meter_readings",
       "on_conflict=meter_id,metric", R"([{"meter_id":"m1","metric":"import_a","value":1300,"read_at":"2025-01-02T00:00:00+00:00"}])",
       "return=representation,resolution=merge-duplicates"},
  };
  return list;
}

// Every field of `want` is in `got` with the same value.
bool has_fields(const Row& got, const Row& want) {
  if (!got.is_object()) return false;
  for (auto it = want.begin(); it != want.end(); ++it) {
    if (!got.contains(it.key()) || got[it.key()] != it.value()) return false;
  }
  return true;
}

class Chains : public ::testing::Test {
 protected:
  void SetUp() override {
    db.exec(meterops::testing::kSeedSql);
    db.exec("UPDATE meter_registry SET created_at = '2024-03-01T08:00:00Z'");
  }
  meterops::testing::TestDatabase db;
};

}  // namespace

TEST_F(Chains, DirectBackendGivesTheRowsTheJobsExpect) {
  auto flows = util::supa_client(db.url(), "anon", "role");
  auto backend = util::supa_client(db.url(), "anon", "role", "homeportal");
  for (const auto& chain : chains()) {
    SCOPED_TRACE(chain.name);
    util::Response r;
    ASSERT_NO_THROW(r = chain.build(chain.db == Db::flows ? flows : backend).execute());
    Row want = Row::parse(chain.rows);
    if (chain.exact) {
      EXPECT_EQ(r.data.dump(), want.dump());
    } else {
      ASSERT_EQ(r.data.size(), want.size()) << r.data.dump();
      for (std::size_t i = 0; i < want.size(); ++i) EXPECT_TRUE(has_fields(r.data[i], want[i])) << r.data[i].dump();
    }
    if (!chain.check_sql.empty()) {
      EXPECT_EQ(db.query(chain.check_sql), Row::parse(chain.check_rows));
    }
  }
}

TEST(RestChains, EachChainIsOneRequestOfTheRestInterface) {
  meterops::testing::FakeRest rest;
  auto flows = util::supa_client(rest.url() + "/", "anon-key", "flows-role-key");
  auto backend = util::supa_client(rest.url(), "anon-key", "backend-role-key", "homeportal");
  for (const auto& chain : chains()) {
    SCOPED_TRACE(chain.name);
    rest.answer(200, chain.rows);
    const std::size_t before = rest.seen.size();
    util::Response r;
    ASSERT_NO_THROW(r = chain.build(chain.db == Db::flows ? flows : backend).execute());
    EXPECT_EQ(r.data, Row::parse(chain.rows));  // the service's rows as they came
    ASSERT_EQ(rest.seen.size(), before + 1);
    auto s = rest.last();
    EXPECT_EQ(s.method, chain.method);
    EXPECT_EQ(s.path, chain.path);
    EXPECT_EQ(s.query, chain.query);
    EXPECT_EQ(s.body, chain.body);
    EXPECT_EQ(s.header("apikey"), "anon-key");
    EXPECT_EQ(s.header("Authorization"), chain.db == Db::flows ? "Bearer flows-role-key" : "Bearer backend-role-key");
    EXPECT_EQ(s.header("Prefer"), chain.prefer);
    const bool write = chain.method != "GET";
    EXPECT_EQ(s.header("Content-Type"), write ? "application/json" : "<absent>");
    const std::string profile = chain.db == Db::backend ? "homeportal" : "<absent>";
    EXPECT_EQ(s.header("Accept-Profile"), write ? "<absent>" : profile);
    EXPECT_EQ(s.header("Content-Profile"), write ? profile : "<absent>");
  }
}

TEST(RestChains, ValuesAreEncodedOnTheWire) {
  meterops::testing::FakeRest rest;
  auto client = util::supa_client(rest.url(), "k", "r");
  struct Case {
    std::function<util::QueryBuilder(const util::Client&)> build;
    std::string target;  // raw request target
  };
  const std::vector<Case> cases = {
      {[](const util::Client& c) { return c.table("escos").select("id").eq("code", "a b&c=d+e%f#g"); },
       "/rest/v1/escos?select=id&code=eq.a%20b%26c%3Dd%2Be%25f%23g"},
      {[](const util::Client& c) { return c.table("escos").select("id").eq("code", "Zürich"); },
       "/rest/v1/escos?select=id&code=eq.Z%C3%BCrich"},
      {[](const util::Client& c) { return c.table("escos").select("id").in_("id", {"plain", "a,b", "(x)", "say \"hi\"", "back\\slash", "1.5"}); },
       "/rest/v1/escos?select=id&id=in.%28plain%2C%22a%2Cb%22%2C%22%28x%29%22%2C%22say%20%5C%22hi%5C%22%22%2C%22back%5C%5Cslash%22%2C%221.5%22%29"},
      {[](const util::Client& c) { return c.table("escos").select("id").in_("id", {1, 2}); }, "/rest/v1/escos?select=id&id=in.%281%2C2%29"},
      {[](const util::Client& c) { return c.table("escos").select("id").ilike("code", "50%_off"); },
       "/rest/v1/escos?select=id&code=ilike.50%25_off"},
  };
  for (const auto& c : cases) {
    c.build(client).execute();
    EXPECT_EQ(rest.last().target, c.target);
  }
}

TEST(RestChains, ConnectionsAreReusedAcrossQueriesAndClientsOfAThread) {
  meterops::testing::FakeRest rest;
  auto run = [&] {
    auto client = util::supa_client(rest.url(), "k", "r");  // a new client each time, as a per-meter job builds
    for (int i = 0; i < 20; ++i) client.table("escos").select("id").eq("id", i).execute();
  };
  run();
  run();
  std::thread other([&] {
    run();
    run();
  });
  other.join();
  // One connection per thread, whatever the number of clients and queries
  // (libcurl cannot share live connections between threads safely).
  std::set<int> ports;
  for (const auto& s : rest.seen) ports.insert(s.remote_port);
  EXPECT_EQ(rest.seen.size(), 80u);
  EXPECT_EQ(ports.size(), 2u);
}
