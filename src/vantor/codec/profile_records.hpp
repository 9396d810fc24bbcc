// Profile records of the meter's interval logs: the three-phase interval
// record (one per interval of a polyphase series block) and the records of
// profile log 1 (import registers) and profile log 2 (export registers).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vantor/codec/stream.hpp"

namespace meterops::vantor::codec {

// One interval of a three-phase profile block: the meter's status byte for
// the interval and one unsigned 32-bit value per channel of the block.
struct VexoProfileThreePhaseIntervalRecord {
  std::uint8_t status = 0;
  std::vector<std::uint32_t> values;

  // Reads a status byte and `num_channels` big-endian u32 values.
  static VexoProfileThreePhaseIntervalRecord parse(ByteReader& in, std::size_t num_channels);
  bool operator==(const VexoProfileThreePhaseIntervalRecord&) const = default;
};

// "VexoProfileThreePhaseIntervalRecord(status=0x00, values=(1, 2, 3))".
std::string vexo_profile_three_phase_interval_record_pretty_print(const VexoProfileThreePhaseIntervalRecord& r);

// Profile log 1: import energy registers of elements A and B (Wh).
struct VexoProfileLog1Record {
  std::uint32_t timestamp = 0;  // meter epoch seconds
  double import_a = 0;
  double import_b = 0;

  // timestamp u32, import_a u32, import_b u32, all big-endian.
  static VexoProfileLog1Record parse(ByteReader& in);
};

// Profile log 2: active export energy registers of elements A and B (Wh).
struct VexoProfileLog2Record {
  std::uint32_t timestamp = 0;
  double active_export_a = 0;
  double active_export_b = 0;

  static VexoProfileLog2Record parse(ByteReader& in);
};

}  // namespace meterops::vantor::codec
