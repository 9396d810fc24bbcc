// Client end of the meters' frame protocol: reads or writes one meter data
// element per call. Wraps the element request into a data field and a
// checksummed frame from the system's fixed source address (21 AE 42), sends
// it through VantorNET, parses the answer frame and returns its data.
//
//   vantor::FrameLink link("10.0.0.7", 8080);
//   auto value = link.read_element({0x01, 0x02, 0x03});
//
// Catches and retries nothing: transport and codec errors reach the caller.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "util/logging.hpp"
#include "vantor/codec/frame.hpp"
#include "vantor/vantor_net.hpp"

namespace meterops::vantor {

class FrameLink {
 public:
  using Flags = codec::VexoDefaultRequestResponse::ReadWriteFlags;
  using LocalTime = std::chrono::local_time<std::chrono::microseconds>;

  explicit FrameLink(const std::string& host, int port = 8080);
  // The same, with the transport's connect and read time-outs.
  FrameLink(const std::string& host, int port, VantorNET::Timeouts timeouts);

  // The element's value from the meter's answer.
  codec::Bytes read_element(const codec::Bytes& object_id);
  // Writes `payload`; returns once an answer frame parsed, whatever it says.
  void write_element(const codec::Bytes& object_id, const codec::Bytes& payload);
  // Sends an already serialised data field; returns the answer's message.
  codec::Bytes send_message(const codec::Bytes& req_data_field_bytes);
  // Sends a data field record; returns the answer's message.
  codec::Bytes send_message_with_data_instance(const codec::VexoData& req_data_field);

  codec::VexoData _build_data_field(const codec::Bytes& object_id, Flags read_write_flag = Flags::read,
                                    const codec::Bytes& payload = {}) const;
  codec::Bytes _build_frame_bytes(const codec::VexoData& data_field) const;

  // Local wall-clock time of the last exchange that got a parsed answer.
  const std::optional<LocalTime>& last_request_datetime() const { return last_request_datetime_; }

  VantorNET net;

 private:
  std::optional<LocalTime> last_request_datetime_;
};

// The frame's source address: 2207298 as three bytes.
inline constexpr std::uint32_t kSourceAddress = 2207298;

}  // namespace meterops::vantor
