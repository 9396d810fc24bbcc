#include <gtest/gtest.h>

#include "support/mediator_sim.hpp"
#include "support/pg.hpp"
#include "sync/event_journal_syncer.hpp"
#include "sync/energy_totals_syncer.hpp"
#include "sync/firmware_level_syncer.hpp"
#include "sync/model_code_syncer.hpp"
#include "sync/payment_mode_syncer.hpp"
#include "sync/tariff_state_syncer.hpp"
#include "util/errors.hpp"
#include "util/meters.hpp"

namespace mt = meterops::testing;
using namespace meterops;
using nlohmann::json;

namespace {

json events(int count, std::uint32_t newest, int event_id = 5) {
  json out = json::array();
  for (int i = 0; i < count; ++i) out.push_back({{"timestamp", newest - static_cast<std::uint32_t>(i) * 60}, {"event_id", event_id}, {"event_set", 1}});
  return out;
}

class Syncers : public ::testing::Test {
 protected:
  void SetUp() override {
    db.exec("INSERT INTO escos (id, code) VALUES ('e1', 'A');"
            "INSERT INTO meter_registry (id, serial, esco, mode, hardware, firmware_version) VALUES "
            "('single', 'S1', 'e1', 'active', 'P1.ax', '1.0'), ('three', 'S3', 'e1', 'active', 'P3.ax', '1.0'),"
            "('blank', 'SB', 'e1', 'active', '', NULL), ('none', 'SN', 'e1', 'active', NULL, NULL)");
  }
  util::Client client() { return util::supa_client(db.url(), "k", "r"); }
  mt::TestDatabase db;
};

}  // namespace

TEST_F(Syncers, EnergyTotalsSkipsWithoutModelAndReadsAThenB) {
  mt::MediatorSim sim(json{{"S1", {{"element_a", {{"import_active", 1}, {"export_active", 2}}},
                               {"element_b", {{"import_active", 3}, {"export_active", 4}}}}},
                       {"S3", {{"three_phase", {{"active_import", 7}, {"active_export", 8}}}}}});
  mediator::VantorMediatorAPI api(sim.address());
  for (auto [id, serial] : {std::pair{"blank", "SB"}, std::pair{"none", "SN"}}) {
    auto r = sync::EnergyTotalsSyncer(client(), api, id, serial).fetch_metrics();
    EXPECT_FALSE(r.metrics || r.registry_updates);
  }
  EXPECT_TRUE(sim.journal().empty());
  auto single = sync::EnergyTotalsSyncer(client(), api, "single", "S1").fetch_metrics();
  EXPECT_EQ(single.metrics->dump(), R"({"import_a":1.0,"import_b":3.0,"export_a":2.0,"export_b":4.0})");
  auto calls = sim.journal();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0]["op"], "read_element_a");
  EXPECT_EQ(calls[1]["op"], "read_element_b");
  auto three = sync::EnergyTotalsSyncer(client(), api, "three", "S3").fetch_metrics();
  EXPECT_EQ(three.metrics->dump(), R"({"import_a":7.0,"export_a":8.0})");
}

TEST_F(Syncers, ModelCodeAndFirmwareCases) {
  mt::MediatorSim sim(json{{"S1", {{"hardware", "P1.bx"}, {"firmware_version", "1.0"}}},
                       {"SN", {{"hardware", "P1.ax"}}},
                       {"S3", {{"hardware", nullptr}, {"firmware_version", "2.0"}}},
                       {"SB", {{"hardware", ""}}}});
  mediator::VantorMediatorAPI api(sim.address());
  util::LogCapture cap;
  auto differ = sync::ModelCodeSyncer(client(), api, "single", "S1").fetch_metrics();
  EXPECT_EQ(differ.registry_updates->dump(), R"({"hardware":"P1.bx"})");
  auto warn = cap.find("fetched hardware and registry hardware different!", util::Level::warning);
  ASSERT_EQ(warn.size(), 1u);
  EXPECT_EQ(warn[0].fields["old_hardware"], "P1.ax");
  auto fresh = sync::ModelCodeSyncer(client(), api, "none", "SN").fetch_metrics();
  EXPECT_EQ(fresh.registry_updates->dump(), R"({"hardware":"P1.ax"})");
  EXPECT_EQ(cap.find("got new hardware", util::Level::info)[0].fields["new_hardware"], "P1.ax");
  auto gone = sync::ModelCodeSyncer(client(), api, "three", "S3").fetch_metrics();
  EXPECT_EQ(gone.registry_updates->dump(), R"({"hardware":null})");
  std::size_t lines = cap.records().size();
  auto same = sync::ModelCodeSyncer(client(), api, "blank", "SB").fetch_metrics();
  EXPECT_FALSE(same.registry_updates);
  db.exec("UPDATE meter_registry SET hardware = NULL WHERE id = 'three'");
  auto both_none = sync::ModelCodeSyncer(client(), api, "three", "S3").fetch_metrics();
  EXPECT_FALSE(both_none.metrics || both_none.registry_updates);
  EXPECT_EQ(cap.records().size(), lines) << "equal codes log nothing";

  auto fw_same = sync::FirmwareLevelSyncer(client(), api, "single", "S1").fetch_metrics();
  EXPECT_FALSE(fw_same.registry_updates);
  auto fw_new = sync::FirmwareLevelSyncer(client(), api, "three", "S3").fetch_metrics();
  EXPECT_EQ(fw_new.registry_updates->dump(), R"({"firmware_version":"2.0"})");
  EXPECT_EQ(cap.find("update firmware_version", util::Level::info).size(), 1u);

  std::size_t before = sim.journal().size();
  try {
    sync::ModelCodeSyncer(client(), api, "ghost", "SX").fetch_metrics();
    ADD_FAILURE();
  } catch (const util::ValueError& e) {
    EXPECT_STREQ(e.what(), "Meter not found with id ghost");
  }
  EXPECT_EQ(sim.journal().size(), before);
}

TEST_F(Syncers, PaymentModeAndTariffsSkipThreePhase) {
  mt::MediatorSim sim(json{{"S1", {{"prepay_enabled", false}, {"tariffs_active", {{"rate", 1}}}}}});
  mediator::VantorMediatorAPI api(sim.address());
  EXPECT_FALSE(sync::PaymentModeSyncer(client(), api, "three", "S3").fetch_metrics().registry_updates);
  EXPECT_FALSE(sync::TariffStateSyncer(client(), api, "three", "S3").fetch_metrics().metrics);
  EXPECT_TRUE(sim.journal().empty());
  // Reported on every run, even when the registry already holds it.
  db.exec("UPDATE meter_registry SET prepay_enabled = false WHERE id = 'single'");
  EXPECT_EQ(sync::PaymentModeSyncer(client(), api, "single", "S1").fetch_metrics().registry_updates->dump(),
            R"({"prepay_enabled":false})");
  EXPECT_EQ(sync::TariffStateSyncer(client(), api, "single", "S1").fetch_metrics().metrics->dump(),
            R"({"tariffs_active":{"rate":1}})");
  EXPECT_THROW(sync::PaymentModeSyncer(client(), api, "ghost", "SX").fetch_metrics(), util::LookupError);
}

TEST_F(Syncers, EventPagingRules) {
  struct Case {
    const char* name;
    json events;
    const char* stored;  // newest stored event time, or null
    std::size_t pages;
    std::size_t gathered;
  };
  const std::vector<Case> cases = {
      {"first page of 4", events(4, 789000000), nullptr, 1, 4},
      {"ten full pages", events(120, 789000000), nullptr, 10, 100},
      {"full page then 3", events(13, 789000000), nullptr, 2, 13},
      {"stored equals newest", events(4, 789000000), "2024-12-31T22:40:00+00:00", 1, 0},
      {"stored is the third", events(25, 789000000), "2024-12-31T22:38:00+00:00", 1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    db.exec("DELETE FROM meter_event_log");
    if (c.stored) {
      db.exec(std::string("INSERT INTO meter_event_log (meter_id, \"timestamp\", event_type, event_set) VALUES ('single', '") +
              c.stored + "', 5, 1)");
    }
    mt::MediatorSim sim(json{{"S1", {{"events", c.events}}}});
    mediator::VantorMediatorAPI api(sim.address());
    util::LogCapture cap;
    sync::EventJournalSyncer s(client(), api, "single", "S1");
    s.sync();
    auto pages = sim.calls("event_log");
    EXPECT_EQ(pages.size(), c.pages);
    for (std::size_t i = 0; i < pages.size(); ++i) EXPECT_EQ(pages[i]["log_idx"], i);
    EXPECT_EQ(db.query("SELECT count(*) AS n FROM meter_event_log")[0]["n"], c.gathered + (c.stored ? 1 : 0));
    auto count = cap.find("unseen events count", util::Level::info);
    ASSERT_EQ(count.size(), 1u);
    EXPECT_EQ(count[0].fields["unseen_event_count"], c.gathered);
    // Nothing unseen: no upsert at all.
    EXPECT_EQ(cap.contains("supabase insert response"), c.gathered > 0);
  }
}

TEST_F(Syncers, EventLogFailureStoresNothingAndPropagates) {
  mt::MediatorSim sim(json{{"S1", {{"events", events(15, 789000000)}, {"fail", {{"operation", "event_log"}, {"status", "DEADLINE_EXCEEDED"}}}}}});
  mediator::VantorMediatorAPI api(sim.address());
  try {
    sync::EventJournalSyncer(client(), api, "single", "S1").sync();
    ADD_FAILURE() << "no error";
  } catch (const mediator::MediatorClientException& e) {
    EXPECT_EQ(e.code_str(), "DEADLINE_EXCEEDED");
  }
  EXPECT_EQ(db.query("SELECT count(*) AS n FROM meter_event_log")[0]["n"], 0);
}

TEST_F(Syncers, EventIdZeroIsDroppedWithAWarningAndThreePhaseIsSkipped) {
  json evs = events(3, 789000000, 0);
  mt::MediatorSim sim(json{{"S1", {{"events", evs}}}});
  mediator::VantorMediatorAPI api(sim.address());
  util::LogCapture cap;
  sync::EventJournalSyncer(client(), api, "single", "S1").sync();
  EXPECT_TRUE(cap.contains("ignoring events with event_id 0", util::Level::warning));
  EXPECT_TRUE(cap.contains("0 records to insert", util::Level::info));
  EXPECT_EQ(db.query("SELECT count(*) AS n FROM meter_event_log")[0]["n"], 0);
  sync::EventJournalSyncer(client(), api, "three", "S3").sync();
  EXPECT_TRUE(sim.calls("event_log").size() == 1u);
}

TEST_F(Syncers, EventRowsRoundTrip) {
  sync::EventRec e{789000000, 7, 2};
  auto row = sync::event_rec_to_table_row("m1", e);
  EXPECT_EQ(row.dump(), R"({"meter_id":"m1","timestamp":"2024-12-31T22:40:00+00:00","event_type":7,"event_set":2})");
  EXPECT_EQ(sync::event_table_row_to_rec(row), e);
  EXPECT_THROW(sync::event_table_row_to_rec(json{{"timestamp", 5}}), util::TypeError);
}

TEST_F(Syncers, SyncStoresReadingsAndRegistryUpdates) {
  mt::MediatorSim sim(json{{"S1", {{"hardware", "P1.cx"}, {"tariffs_active", {{"rate", 2}}}}}});
  mediator::VantorMediatorAPI api(sim.address());
  sync::ModelCodeSyncer(client(), api, "single", "S1").sync();
  sync::TariffStateSyncer(client(), api, "single", "S1").sync();
  EXPECT_EQ(db.query("SELECT hardware FROM meter_registry WHERE id = 'single'")[0]["hardware"], "P1.cx");
  EXPECT_EQ(db.query("SELECT value FROM meter_readings WHERE meter_id = 'single'")[0]["value"].dump(), R"({"rate":2})");
}

TEST_F(Syncers, ReadingsKeepOnlyTheLatestValueAndNothingIsWrittenForNone) {
  db.exec("INSERT INTO meter_readings (meter_id, metric, value, read_at) VALUES "
          "('single', 'import_a', '0.5', '2020-01-01T00:00:00Z'), ('single', 'tariffs_active', '{\"old\":1}', '2020-01-01T00:00:00Z')");
  mt::MediatorSim sim(json{{"S1", {{"element_a", {{"import_active", 11}, {"export_active", 12}}},
                               {"element_b", {{"import_active", 13}, {"export_active", 14}}}}}});
  mediator::VantorMediatorAPI api(sim.address());
  sync::EnergyTotalsSyncer(client(), api, "single", "S1").sync();
  auto rows = db.query("SELECT metric, value, read_at > now() - interval '1 minute' AS fresh FROM meter_readings "
                       "WHERE meter_id = 'single' ORDER BY metric");
  EXPECT_EQ(rows.dump(), R"([{"metric":"export_a","value":12.0,"fresh":true},{"metric":"export_b","value":14.0,"fresh":true},)"
                         R"({"metric":"import_a","value":11.0,"fresh":true},{"metric":"import_b","value":13.0,"fresh":true},)"
                         R"({"metric":"tariffs_active","value":{"old":1},"fresh":false}])");
  // A syncer with nothing to report writes nothing.
  sync::EnergyTotalsSyncer(client(), api, "blank", "SB").sync();
  EXPECT_EQ(db.query("SELECT count(*) AS n FROM meter_readings WHERE meter_id <> 'single'")[0]["n"], 0);
}

TEST(Meters, ThreePhaseIsDecidedByTheModelFamily) {
  const std::vector<std::pair<std::optional<std::string>, bool>> cases = {
      {"P3.ax", true}, {"P3.cx", true}, {"P3", true},      {"P1.ax", false}, {"P1.cx", false},
      {"P33.ax", false}, {"p3.ax", false}, {".P3", false}, {"", false},      {std::nullopt, false},
  };
  for (const auto& [hardware, three] : cases) {
    EXPECT_EQ(util::is_three_phase(hardware), three) << hardware.value_or("(none)");
  }
}

