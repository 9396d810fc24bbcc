#include "smip/smip_lookup_outcome.hpp"

namespace meterops::smip {

SMIPLookupOutcome::SMIPLookupOutcome(bool quellora, bool timescale, std::optional<std::filesystem::path> file)
    : ingested_quellora(quellora), ingested_timescale(timescale), smip_file(std::move(file)), found(false) {
  if (smip_file && !smip_file->empty()) {
    std::error_code ec;  // an unreadable path counts as not found
    found = std::filesystem::exists(*smip_file, ec);
  }
}

}  // namespace meterops::smip
