#include "smip/smip_lookup_outcome.hpp"

#include <fstream>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.hpp"

using namespace meterops;

TEST(SmipLookupOutcome, FoundIsDecidedOnceAtConstruction) {
  meterops::testing::TempDir dir;
  const std::string file = dir.file("smip.csv");
  smip::SMIPLookupOutcome before(false, false, file);  // created later: stays not found
  std::ofstream(file) << "x";
  smip::SMIPLookupOutcome present(true, false, file);  // deleted later: stays found
  std::filesystem::remove(file);
  EXPECT_FALSE(before.found);
  EXPECT_TRUE(present.found);
  EXPECT_EQ(present.smip_file, std::filesystem::path(file));
  // Ingestion and presence are independent.
  EXPECT_TRUE(present.ingested());
  EXPECT_FALSE(std::filesystem::exists(file));

  EXPECT_TRUE(smip::SMIPLookupOutcome(false, false, dir.path()).found);  // a directory counts
  EXPECT_FALSE(smip::SMIPLookupOutcome(false, false, dir.file("missing/deeper.csv")).found);
}

TEST(SmipLookupOutcome, NoPathIsNeverFound) {
  for (const auto& path : {std::optional<std::filesystem::path>{}, std::optional<std::filesystem::path>{""}}) {
    smip::SMIPLookupOutcome o(true, true, path);
    EXPECT_FALSE(o.found);
    EXPECT_TRUE(o.ingested());
  }
}

TEST(SmipLookupOutcome, IngestedWhenEitherDatabaseHasIt) {
  // (quellora, timescale, ingested())
  const std::vector<std::tuple<bool, bool, bool>> cases = {
      {false, false, false}, {true, false, true}, {false, true, true}, {true, true, true}};
  for (const auto& [quellora, timescale, ingested] : cases) {
    smip::SMIPLookupOutcome o(quellora, timescale);
    EXPECT_EQ(o.ingested_quellora, quellora);
    EXPECT_EQ(o.ingested_timescale, timescale);
    EXPECT_EQ(o.ingested(), ingested) << quellora << timescale;
  }
}
