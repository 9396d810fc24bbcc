#include "vantor/codec/profile_records.hpp"

#include <fmt/format.h>

namespace meterops::vantor::codec {

VexoProfileThreePhaseIntervalRecord VexoProfileThreePhaseIntervalRecord::parse(ByteReader& in,
                                                                               std::size_t num_channels) {
  VexoProfileThreePhaseIntervalRecord r;
  r.status = in.read_u1("interval status");
  // Check the whole record fits before reserving for a hostile channel count.
  // (Divided rather than multiplied, so no count can wrap the check.)
  if (num_channels > in.remaining() / 4) {
    throw util::CodecError("truncated interval record: " + std::to_string(num_channels) +
                           " channels need 4 bytes each, have " + std::to_string(in.remaining()));
  }
  r.values.reserve(num_channels);
  for (std::size_t i = 0; i < num_channels; ++i) r.values.push_back(in.read_u4be("channel value"));
  return r;
}

std::string vexo_profile_three_phase_interval_record_pretty_print(const VexoProfileThreePhaseIntervalRecord& r) {
  return fmt::format("VexoProfileThreePhaseIntervalRecord(status=0x{:02x}, values=({}))", r.status,
                     fmt::join(r.values, ", "));
}

VexoProfileLog1Record VexoProfileLog1Record::parse(ByteReader& in) {
  VexoProfileLog1Record r;
  r.timestamp = in.read_u4be("log1 timestamp");
  r.import_a = in.read_u4be("import_a");
  r.import_b = in.read_u4be("import_b");
  return r;
}

VexoProfileLog2Record VexoProfileLog2Record::parse(ByteReader& in) {
  VexoProfileLog2Record r;
  r.timestamp = in.read_u4be("log2 timestamp");
  r.active_export_a = in.read_u4be("active_export_a");
  r.active_export_b = in.read_u4be("active_export_b");
  return r;
}

}  // namespace meterops::vantor::codec
