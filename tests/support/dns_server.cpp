#include "support/dns_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace meterops::testing {

namespace {

// A free UDP port on the loopback address (dnsmasq serves UDP and TCP; the
// UDP side is the one the resolver uses).
int free_udp_port(const std::string& listen) {
  bool v6 = listen.find(':') != std::string::npos;
  int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) throw std::runtime_error("socket() failed");
  int port = 0;
  if (v6) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port = ntohs(a.sin6_port);
  } else {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port = ntohs(a.sin_port);
  }
  close(fd);
  if (port == 0) throw std::runtime_error("no free UDP port on " + listen);
  return port;
}

// True when a name server on listen:port answers one query within 100 ms.
bool answers(const std::string& listen, int port) {
  bool v6 = listen.find(':') != std::string::npos;
  int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  // Header (id 0x1234, recursion desired, one question), "probe." A IN.
  const unsigned char query[] = {0x12, 0x34, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                 5,    'p',  'r',  'o',  'b',  'e',  0x00, 0x00, 0x01, 0x00, 0x01};
  ssize_t sent = -1;
  if (v6) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET6, listen.c_str(), &a.sin6_addr);
    sent = sendto(fd, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  } else {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, listen.c_str(), &a.sin_addr);
    sent = sendto(fd, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  bool ok = false;
  if (sent == static_cast<ssize_t>(sizeof query)) {
    pollfd p{fd, POLLIN, 0};
    unsigned char buf[512];
    ok = poll(&p, 1, 100) == 1 && recv(fd, buf, sizeof buf, 0) >= 2 && buf[0] == 0x12 && buf[1] == 0x34;
  }
  close(fd);
  return ok;
}

}  // namespace

DnsServer::DnsServer(const std::vector<std::string>& host_records, const std::string& listen) : listen_(listen) {
  for (int attempt = 0; attempt < 3 && !proc_; ++attempt) {
    port_ = free_udp_port(listen);
    std::vector<std::string> args = {"--no-daemon", "--port=" + std::to_string(port_), "--listen-address=" + listen,
                                     "--bind-interfaces", "--no-resolv", "--no-hosts", "--user=root", "--pid-file=",
                                     "--log-facility=-"};
    for (const auto& r : host_records) args.push_back("--host-record=" + r);
    auto proc = std::make_unique<BackgroundProcess>("/usr/sbin/dnsmasq", args);
    for (int i = 0; i < 50; ++i) {  // at most about 5 s
      if (answers(listen, port_)) {
        proc_ = std::move(proc);
        break;
      }
      if (!proc->running()) break;  // port taken meanwhile: try another
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  if (!proc_) throw std::runtime_error("dnsmasq did not start on " + listen);
}

std::string DnsServer::server() const {
  bool v6 = listen_.find(':') != std::string::npos;
  return (v6 ? "[" + listen_ + "]" : listen_) + ":" + std::to_string(port_);
}

SilentUdpServer::SilentUdpServer() {
  fd_ = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    throw std::runtime_error("cannot bind a UDP socket on 127.0.0.1");
  }
  port_ = ntohs(a.sin_port);
}

SilentUdpServer::~SilentUdpServer() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace meterops::testing
