#include "vantor/codec/frame.hpp"

#include <boost/crc.hpp>
#include <fmt/format.h>

#include "util/logging.hpp"

namespace meterops::vantor::codec {

namespace {

std::string hexb(const Bytes& b) {
  return util::hex(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
}

void check_width(const Bytes& b, std::size_t width, const char* field) {
  if (b.size() != width) {
    throw util::CodecError(std::string(field) + " must be " + std::to_string(width) + " bytes, got " +
                           std::to_string(b.size()));
  }
}

}  // namespace

std::uint16_t crc16_ccitt_false(std::span<const std::uint8_t> bytes) {
  boost::crc_optimal<16, 0x1021, 0xFFFF, 0, false, false> crc;
  crc.process_bytes(bytes.data(), bytes.size());
  return crc.checksum();
}

Bytes vexo_encode_u3be(std::uint32_t value) {
  if (value > 0xFFFFFF) throw util::ValueError("value " + std::to_string(value) + " does not fit 24 bits");
  return {static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value)};
}

void VexoDefaultRequestResponse::write(ByteWriter& out) const {
  check_width(object_id, kObjectIdSize, "object_id");
  if (len_data < kHeaderSize || payload.size() != len_data - kHeaderSize) {
    throw util::CodecError("element record of " + std::to_string(len_data) + " bytes cannot hold a payload of " +
                           std::to_string(payload.size()) + " bytes");
  }
  out.write_bytes(object_id, "object_id");
  out.write_u1(static_cast<std::uint8_t>(read_write));
  out.write_bytes(payload, "payload");
}

VexoDefaultRequestResponse VexoDefaultRequestResponse::parse(ByteReader& in, std::size_t len_data) {
  if (len_data < kHeaderSize) {
    throw util::CodecError("element record too short: " + std::to_string(len_data) + " bytes, need at least 4");
  }
  VexoDefaultRequestResponse r(len_data);
  r.object_id = in.read_bytes(kObjectIdSize, "object_id");
  r.read_write = static_cast<ReadWriteFlags>(in.read_u1("read_write"));
  r.payload = in.read_bytes(len_data - kHeaderSize, "payload");
  return r;
}

VexoDefaultRequestResponse VexoDefaultRequestResponse::from_bytes(std::span<const std::uint8_t> bytes) {
  ByteReader in(bytes);
  return parse(in, bytes.size());
}

std::string VexoDefaultRequestResponse::to_string() const {
  return fmt::format("VexoDefaultRequestResponse(object_id={}, read_write={}, payload={})", hexb(object_id),
                     read_write == ReadWriteFlags::read    ? std::string("read")
                     : read_write == ReadWriteFlags::write ? std::string("write")
                                                           : std::to_string(static_cast<int>(read_write)),
                     hexb(payload));
}

void VexoData::write(ByteWriter& out) const {
  if (message.size() != len_data) {
    throw util::CodecError("data field of " + std::to_string(len_data) + " message bytes holds " +
                           std::to_string(message.size()));
  }
  out.write_u1(static_cast<std::uint8_t>(format));
  out.write_bytes(message, "message");
}

VexoData VexoData::parse(ByteReader& in, std::size_t field_size) {
  if (field_size < 1) throw util::CodecError("data field is empty: no format byte");
  VexoData d(field_size - 1);
  d.format = static_cast<RecordFormat>(in.read_u1("format"));
  d.message = in.read_bytes(field_size - 1, "message");
  return d;
}

VexoData VexoData::from_bytes(std::span<const std::uint8_t> field_bytes) {
  ByteReader in(field_bytes);
  return parse(in, field_bytes.size());
}

std::string VexoData::to_string() const {
  return fmt::format("VexoData(format={}, message={})", static_cast<int>(format), hexb(message));
}

void VexoFrame::write(ByteWriter& out) const {
  check_width(destination_device_type, 1, "destination_device_type");
  check_width(destination_address, 3, "destination_address");
  check_width(source_device_type, 1, "source_device_type");
  check_width(source_address, 3, "source_address");
  check_width(crc16, 2, "crc16");
  if (std::size_t{frame_length} != data.size() + kOverhead - 1) {
    throw util::CodecError("frame_length " + std::to_string(frame_length) + " does not match a data field of " +
                           std::to_string(data.size()) + " bytes");
  }
  out.write_u1(frame_delimeter);
  out.write_u1(frame_length);
  out.write_u1(control);
  out.write_bytes(destination_device_type);
  out.write_bytes(destination_address);
  out.write_bytes(source_device_type);
  out.write_bytes(source_address);
  data.write(out);
  out.write_bytes(crc16, "crc16");
}

std::uint8_t VexoFrame::length_for_message(std::size_t message_size) {
  if (message_size > kMaxMessage) {
    throw util::CodecError("message of " + std::to_string(message_size) + " bytes does not fit a frame (at most " +
                           std::to_string(kMaxMessage) + ")");
  }
  return static_cast<std::uint8_t>(message_size + kOverhead);
}

VexoFrame VexoFrame::from_bytes(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kMinSize) {
    throw util::CodecError("frame too short: " + std::to_string(bytes.size()) + " bytes, need at least " +
                           std::to_string(kMinSize));
  }
  ByteReader in(bytes);
  VexoFrame f;
  f.frame_delimeter = in.read_u1("frame_delimeter");
  if (f.frame_delimeter != kDelimiter) {
    throw util::CodecError(fmt::format("frame delimiter is 0x{:02x}, expected 0x7e", f.frame_delimeter));
  }
  f.frame_length = in.read_u1("frame_length");
  if (f.size() != bytes.size()) {
    throw util::CodecError("frame_length " + std::to_string(f.frame_length) + " says " + std::to_string(f.size()) +
                           " bytes, got " + std::to_string(bytes.size()));
  }
  if (f.frame_length < kMinSize - 1) {
    throw util::CodecError("frame_length " + std::to_string(f.frame_length) + " is below the minimum 13");
  }
  std::uint16_t expected = crc16_ccitt_false(bytes.subspan(1, bytes.size() - 3));
  std::uint16_t got = static_cast<std::uint16_t>((bytes[bytes.size() - 2] << 8) | bytes[bytes.size() - 1]);
  if (expected != got) {
    throw util::CodecError(fmt::format("frame checksum mismatch: expected {:04x}, got {:04x}", expected, got));
  }
  f.control = in.read_u1("control");
  f.destination_device_type = in.read_bytes(1, "destination_device_type");
  f.destination_address = in.read_bytes(3, "destination_address");
  f.source_device_type = in.read_bytes(1, "source_device_type");
  f.source_address = in.read_bytes(3, "source_address");
  f.data = VexoData::parse(in, std::size_t{f.frame_length} - (kOverhead - 1));
  f.crc16 = in.read_bytes(2, "crc16");
  return f;
}

std::string VexoFrame::to_string() const {
  return fmt::format(
      "VexoFrame(frame_delimeter={:02x}, frame_length={}, control={}, destination_device_type={}, "
      "destination_address={}, source_device_type={}, source_address={}, data={}, crc16={})",
      frame_delimeter, frame_length, control, hexb(destination_device_type), hexb(destination_address),
      hexb(source_device_type), hexb(source_address), data.to_string(), hexb(crc16));
}

}  // namespace meterops::vantor::codec
