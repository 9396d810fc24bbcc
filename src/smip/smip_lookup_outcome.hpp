// The outcome of one search for a meter's SMIP file: whether it exists
// (decided once, at construction) and whether it was already ingested into
// the platform database or the Timescale database.
#pragma once

#include <filesystem>
#include <optional>

namespace meterops::smip {

class SMIPLookupOutcome {
 public:
  SMIPLookupOutcome(bool ingested_quellora, bool ingested_timescale,
                    std::optional<std::filesystem::path> smip_file = std::nullopt);

  // Ingested into either database (found or not).
  bool ingested() const { return ingested_quellora || ingested_timescale; }

  bool ingested_quellora;
  bool ingested_timescale;
  std::optional<std::filesystem::path> smip_file;
  bool found;
};

}  // namespace meterops::smip
