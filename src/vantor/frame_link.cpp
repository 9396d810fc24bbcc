#include "vantor/frame_link.hpp"

#include <ctime>

namespace meterops::vantor {

namespace {

const util::Logger& logger() {
  static const util::Logger log = util::get_logger("vantor.frame_link", __FILE__);
  return log;
}

std::string hexb(const codec::Bytes& b) {
  return util::hex(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
}

FrameLink::LocalTime local_now() {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  auto micros = std::chrono::time_point_cast<std::chrono::microseconds>(now).time_since_epoch();
  return FrameLink::LocalTime(micros + std::chrono::seconds(tm.tm_gmtoff));
}

// Serialise into a zero-filled buffer of exactly the record's size.
template <class Record>
codec::Bytes serialise(const Record& r, std::size_t size) {
  codec::ByteWriter out(size);
  r.write(out);
  return out.take();
}

}  // namespace

FrameLink::FrameLink(const std::string& host, int port) : FrameLink(host, port, VantorNET::Timeouts{}) {}

FrameLink::FrameLink(const std::string& host, int port, VantorNET::Timeouts timeouts)
    : net(host, port, timeouts.connect, timeouts.read) {
  // The bound logger is not kept: the records below carry only their fields.
  (void)logger().bind({{"host", host}});
}

codec::VexoData FrameLink::_build_data_field(const codec::Bytes& object_id, Flags read_write_flag,
                                             const codec::Bytes& payload) const {
  std::size_t len_data = payload.size() + codec::VexoDefaultRequestResponse::kHeaderSize;
  codec::VexoDefaultRequestResponse rec(len_data);
  rec.object_id = object_id;
  rec.read_write = read_write_flag;
  rec.payload = payload;
  codec::VexoData field(len_data);
  field.format = codec::VexoData::RecordFormat::default_;
  field.message = serialise(rec, len_data);
  return field;
}

codec::Bytes FrameLink::_build_frame_bytes(const codec::VexoData& data_field) const {
  codec::VexoFrame frame;
  frame.frame_delimeter = '~';
  frame.control = 5;
  frame.destination_device_type = {0x00};
  frame.destination_address = {0x00, 0x00, 0x00};
  frame.source_device_type = {0x00};
  frame.source_address = codec::vexo_encode_u3be(kSourceAddress);
  frame.data = data_field;
  frame.frame_length = codec::VexoFrame::length_for_message(data_field.message.size());
  std::size_t total = frame.size();
  frame.crc16 = {0x00, 0x00};
  codec::Bytes image = serialise(frame, total);
  std::uint16_t crc = codec::crc16_ccitt_false(std::span<const std::uint8_t>(image).subspan(1, total - 3));
  frame.crc16 = {static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc & 0xFF)};
  return serialise(frame, total);
}

codec::Bytes FrameLink::send_message_with_data_instance(const codec::VexoData& req_data_field) {
  codec::Bytes req_bytes = _build_frame_bytes(req_data_field);
  logger().debug("send_message_with_data_instance request", {{"req_bytes", hexb(req_bytes)}});
  codec::Bytes rsp_bytes = net.send_message(req_bytes);
  logger().debug("send_message_with_data_instance response", {{"rsp_bytes", hexb(rsp_bytes)}});
  codec::VexoFrame frame = codec::VexoFrame::from_bytes(rsp_bytes);
  if (logger().enabled(util::Level::debug)) {
    logger().debug("response frame parsed", {{"frame", frame.to_string()}});
  }
  last_request_datetime_ = local_now();
  return frame.data.message;
}

codec::Bytes FrameLink::send_message(const codec::Bytes& req_data_field_bytes) {
  return send_message_with_data_instance(codec::VexoData::from_bytes(req_data_field_bytes));
}

codec::Bytes FrameLink::read_element(const codec::Bytes& object_id) {
  codec::VexoData field = _build_data_field(object_id);
  codec::Bytes rsp = send_message_with_data_instance(field);
  return codec::VexoDefaultRequestResponse::from_bytes(rsp).payload;
}

void FrameLink::write_element(const codec::Bytes& object_id, const codec::Bytes& payload) {
  codec::VexoData field = _build_data_field(object_id, Flags::write, payload);
  send_message(serialise(field, field.len_data + 1));
}

}  // namespace meterops::vantor
