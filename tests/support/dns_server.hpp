// A real name server on loopback for one test: dnsmasq on a free port,
// answering only the records given (no upstream, no /etc/hosts).
//
//   DnsServer dns({"mediators-acme.flycast,fdaa::42"});   // --host-record entries
//   resolve_first("mediators-acme.flycast", dns.server(), RecordType::AAAA);
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/process.hpp"

namespace meterops::testing {

class DnsServer {
 public:
  // `host_records`: dnsmasq --host-record values ("name,address[,address]").
  // `listen`: "127.0.0.1" or "::1". Waits (bounded) until the server answers.
  explicit DnsServer(const std::vector<std::string>& host_records, const std::string& listen = "127.0.0.1");
  int port() const { return port_; }
  // "127.0.0.1:PORT" or "[::1]:PORT", as a resolver's server setting.
  std::string server() const;

 private:
  std::string listen_;
  int port_ = 0;
  std::unique_ptr<BackgroundProcess> proc_;
};

// A UDP socket on 127.0.0.1 that receives queries and never answers, for
// time-out tests; closed on destruction.
class SilentUdpServer {
 public:
  SilentUdpServer();
  ~SilentUdpServer();
  SilentUdpServer(const SilentUdpServer&) = delete;
  SilentUdpServer& operator=(const SilentUdpServer&) = delete;
  std::string server() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace meterops::testing
