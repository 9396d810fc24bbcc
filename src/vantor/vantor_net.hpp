// TCP transport to a meter endpoint: one request frame out, exactly one
// answer frame back (delimiter, length byte, then the rest). Every failure
// raises util::TransportError naming host and port.
#pragma once

#include <chrono>
#include <string>

#include "vantor/codec/stream.hpp"

namespace meterops::vantor {

class VantorNET {
 public:
  // Connect covers name resolution and the TCP handshake; read covers
  // sending the request and receiving the whole answer.
  struct Timeouts {
    std::chrono::milliseconds connect = std::chrono::seconds(5);
    std::chrono::milliseconds read = std::chrono::seconds(10);
  };

  VantorNET(std::string host, int port,
            std::chrono::milliseconds connect_timeout = std::chrono::seconds(5),
            std::chrono::milliseconds read_timeout = std::chrono::seconds(10));

  // Connects, sends `request`, reads one whole answer frame and closes.
  codec::Bytes send_message(const codec::Bytes& request);

  const std::string& host() const { return host_; }
  int port() const { return port_; }

 private:
  std::string host_;
  int port_;
  std::chrono::milliseconds connect_timeout_;
  std::chrono::milliseconds read_timeout_;
};

}  // namespace meterops::vantor
