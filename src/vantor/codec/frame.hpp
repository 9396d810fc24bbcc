// The meters' frame records: the frame (`VexoFrame`), its data field
// (`VexoData`) and the element request/response record
// (`VexoDefaultRequestResponse`), each serialising into a fixed-size buffer
// and parsing from bytes with every length checked.
//
// Frame layout (a whole frame is frame_length + 1 bytes):
//   delimiter '~' | frame_length | control | destination_device_type |
//   destination_address (3) | source_device_type | source_address (3) |
//   data (format + message) | crc16 (2, most significant first)
// frame_length counts every byte after the delimiter; the checksum covers
// the same bytes but itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "vantor/codec/stream.hpp"

namespace meterops::vantor::codec {

// CRC-16/CCITT-FALSE: poly 0x1021, init 0xFFFF, no reflection, no final XOR.
std::uint16_t crc16_ccitt_false(std::span<const std::uint8_t> bytes);

// An unsigned 24-bit value as three bytes, most significant first.
// ValueError above 0xFFFFFF.
Bytes vexo_encode_u3be(std::uint32_t value);

// The element request/response record: object id (3 bytes), read/write flag
// (1 byte), payload (the rest). `len_data` is the record's whole length.
struct VexoDefaultRequestResponse {
  enum class ReadWriteFlags : std::uint8_t { read = 0, write = 1 };
  static constexpr std::size_t kObjectIdSize = 3;
  static constexpr std::size_t kHeaderSize = 4;

  explicit VexoDefaultRequestResponse(std::size_t len_data) : len_data(len_data) {}

  std::size_t len_data;
  Bytes object_id;
  ReadWriteFlags read_write = ReadWriteFlags::read;
  Bytes payload;

  // CodecError when the object id is not 3 bytes or the payload does not fill
  // len_data - 4 bytes.
  void write(ByteWriter& out) const;
  static VexoDefaultRequestResponse parse(ByteReader& in, std::size_t len_data);
  static VexoDefaultRequestResponse from_bytes(std::span<const std::uint8_t> bytes);
  std::string to_string() const;
};

// The data field: a format byte and the message (a serialised element
// record). `len_data` is the message length.
struct VexoData {
  enum class RecordFormat : std::uint8_t { default_ = 0 };

  explicit VexoData(std::size_t len_data) : len_data(len_data) {}

  std::size_t len_data;
  RecordFormat format = RecordFormat::default_;
  Bytes message;

  std::size_t size() const { return len_data + 1; }
  void write(ByteWriter& out) const;
  // Parses `field_size` bytes: the format byte, then the message.
  static VexoData parse(ByteReader& in, std::size_t field_size);
  static VexoData from_bytes(std::span<const std::uint8_t> field_bytes);
  std::string to_string() const;
};

struct VexoFrame {
  static constexpr std::uint8_t kDelimiter = 0x7E;  // '~'
  static constexpr std::size_t kOverhead = 13;      // frame_length - message length
  static constexpr std::size_t kMinSize = 14;       // an empty message
  static constexpr std::size_t kMaxMessage = 0xFF - kOverhead;  // 242

  // frame_length for a message of `message_size` bytes; CodecError when it
  // does not fit the one length byte.
  static std::uint8_t length_for_message(std::size_t message_size);

  std::uint8_t frame_delimeter = kDelimiter;
  std::uint8_t frame_length = 0;
  std::uint8_t control = 0;
  Bytes destination_device_type;  // 1 byte
  Bytes destination_address;      // 3 bytes
  Bytes source_device_type;       // 1 byte
  Bytes source_address;           // 3 bytes
  VexoData data{0};
  Bytes crc16;                    // 2 bytes, most significant first

  // frame_length + 1.
  std::size_t size() const { return std::size_t{frame_length} + 1; }
  // CodecError when a field has the wrong width or the data field does not
  // fit frame_length.
  void write(ByteWriter& out) const;
  // Parses one whole frame: CodecError when the bytes are too short, longer
  // or shorter than frame_length says, or the checksum does not match.
  static VexoFrame from_bytes(std::span<const std::uint8_t> bytes);
  std::string to_string() const;
};

}  // namespace meterops::vantor::codec
