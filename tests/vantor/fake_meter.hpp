// A meter on a loopback TCP port for frame link tests: reads one request
// frame per connection, records it, and answers with whatever the handler
// returns (an empty answer closes the connection without a word).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "vantor/codec/frame.hpp"

namespace meterops::testing {

using vantor::codec::Bytes;

// A checksummed answer frame carrying `message`.
inline Bytes answer_frame(const Bytes& message, std::uint8_t control = 5) {
  const Bytes head{0x7E, static_cast<std::uint8_t>(message.size() + 13), control, 0, 0x21, 0xAE, 0x42, 0, 0, 0, 0, 0};
  Bytes f(head.size() + message.size() + 2);
  std::copy(head.begin(), head.end(), f.begin());
  std::copy(message.begin(), message.end(), f.begin() + static_cast<std::ptrdiff_t>(head.size()));
  auto crc = vantor::codec::crc16_ccitt_false(std::span<const std::uint8_t>(f).subspan(1, f.size() - 3));
  f[f.size() - 2] = static_cast<std::uint8_t>(crc >> 8);
  f[f.size() - 1] = static_cast<std::uint8_t>(crc);
  return f;
}

class FakeMeter {
 public:
  using Handler = std::function<Bytes(const Bytes& request)>;

  explicit FakeMeter(Handler handler) : handler_(std::move(handler)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    ::listen(fd_, 8);
    thread_ = std::thread([this] { serve(); });
  }
  ~FakeMeter() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }
  int port() const { return port_; }
  int bad_requests() const { return bad_requests_; }
  std::vector<Bytes> requests() const {
    std::lock_guard lock(mu_);
    return requests_;
  }

 private:
  void serve() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      Bytes req;
      std::size_t want = 2;
      for (int spins = 0; req.size() < want && spins < 100 && !stop_; ++spins) {
        pollfd q{c, POLLIN, 0};
        if (::poll(&q, 1, 20) <= 0) continue;
        std::uint8_t buf[512];
        ssize_t n = ::recv(c, buf, std::min(sizeof buf, want - req.size()), 0);
        if (n <= 0) break;
        req.insert(req.end(), buf, buf + n);
        if (want == 2 && req.size() >= 2) want = std::size_t{req[1]} + 1;
      }
      {
        std::lock_guard lock(mu_);
        requests_.push_back(req);
      }
      // A request the meter cannot parse gets no answer and is counted.
      Bytes answer;
      try {
        answer = handler_(req);
      } catch (const std::exception&) {
        ++bad_requests_;
      }
      if (!answer.empty()) ::send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
      ::close(c);
    }
  }

  Handler handler_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> bad_requests_{0};
  mutable std::mutex mu_;
  std::vector<Bytes> requests_;
  std::thread thread_;
};

}  // namespace meterops::testing
