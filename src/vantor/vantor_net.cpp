#include "vantor/vantor_net.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "util/errors.hpp"
#include "vantor/codec/frame.hpp"

namespace meterops::vantor {

namespace {

using Clock = std::chrono::steady_clock;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Name resolution bounded by the connect deadline: address literals resolve
// at once; a name is looked up on a helper thread so that a stalled resolver
// cannot hold the caller past its time-out (the thread finishes on its own).
template <class Fail>
std::shared_ptr<addrinfo> resolve(const std::string& host, int port, Clock::time_point deadline, Fail fail) {
  if (host.empty()) throw fail("empty host name");
  const std::string service = std::to_string(port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* res = nullptr;
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &res) == 0) {
    return std::shared_ptr<addrinfo>(res, &freeaddrinfo);
  }

  struct Lookup {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
    int rc = 0;
    std::shared_ptr<addrinfo> res;
  };
  auto lookup = std::make_shared<Lookup>();
  std::thread([lookup, host, service] {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    std::lock_guard lock(lookup->mu);
    lookup->rc = rc;
    if (rc == 0) lookup->res = std::shared_ptr<addrinfo>(found, &freeaddrinfo);
    lookup->done = true;
    lookup->cv.notify_all();
  }).detach();
  std::unique_lock lock(lookup->mu);
  if (!lookup->cv.wait_until(lock, deadline, [&] { return lookup->done; })) {
    throw fail("cannot resolve host: timed out");
  }
  if (lookup->rc != 0) throw fail(std::string("cannot resolve host: ") + gai_strerror(lookup->rc));
  return lookup->res;
}

}  // namespace

VantorNET::VantorNET(std::string host, int port, std::chrono::milliseconds connect_timeout,
                     std::chrono::milliseconds read_timeout)
    : host_(std::move(host)), port_(port), connect_timeout_(connect_timeout), read_timeout_(read_timeout) {}

codec::Bytes VantorNET::send_message(const codec::Bytes& request) {
  const std::string where = host_ + ":" + std::to_string(port_);
  auto fail = [&](const std::string& what) -> util::TransportError {
    return util::TransportError("meter " + where + ": " + what);
  };
  if (port_ <= 0 || port_ > 65535) throw fail("invalid port");

  auto connect_deadline = Clock::now() + connect_timeout_;
  std::shared_ptr<addrinfo> addrs = resolve(host_, port_, connect_deadline, fail);
  int fd = -1;
  std::string last_error = "no address";
  for (addrinfo* a = addrs.get(); a && fd < 0; a = a->ai_next) {
    int s = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (s < 0) {
      last_error = std::strerror(errno);
      continue;
    }
    int rc = ::connect(s, a->ai_addr, a->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      pollfd p{s, POLLOUT, 0};
      int n;
      do {
        n = ::poll(&p, 1, remaining_ms(connect_deadline));
      } while (n < 0 && errno == EINTR);
      if (n == 0) {
        ::close(s);
        throw fail("connect timed out");
      }
      int err = 0;
      socklen_t len = sizeof err;
      ::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len);
      rc = err == 0 ? 0 : -1;
      errno = err;
    }
    if (rc == 0) {
      fd = s;
    } else {
      last_error = std::strerror(errno);
      ::close(s);
    }
  }
  if (fd < 0) throw fail("cannot connect: " + last_error);
  Fd sock(fd);

  auto deadline = Clock::now() + read_timeout_;
  std::size_t sent = 0;
  while (sent < request.size()) {
    pollfd p{sock.get(), POLLOUT, 0};
    if (::poll(&p, 1, remaining_ms(deadline)) <= 0) throw fail("send timed out");
    ssize_t n = ::send(sock.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      throw fail(std::string("send failed: ") + std::strerror(errno));
    }
    sent += static_cast<std::size_t>(n);
  }

  codec::Bytes answer;
  std::size_t want = 2;  // delimiter and length byte first
  while (answer.size() < want) {
    pollfd p{sock.get(), POLLIN, 0};
    int ready = ::poll(&p, 1, remaining_ms(deadline));
    if (ready == 0) {
      throw fail(answer.empty() ? "no answer before the read time-out"
                                : "answer cut short: " + std::to_string(answer.size()) + " of " +
                                      std::to_string(want) + " bytes before the read time-out");
    }
    std::uint8_t buf[512];
    ssize_t n = ::recv(sock.get(), buf, std::min(sizeof buf, want - answer.size()), 0);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      throw fail(std::string("read failed: ") + std::strerror(errno));
    }
    if (n == 0) {
      throw fail(answer.empty() ? "connection closed without an answer"
                                : "answer cut short: " + std::to_string(answer.size()) + " of " +
                                      std::to_string(want) + " bytes");
    }
    answer.insert(answer.end(), buf, buf + n);
    if (answer.size() >= 1 && answer[0] != codec::VexoFrame::kDelimiter) {
      throw fail("answer does not start with the frame delimiter");
    }
    if (want == 2 && answer.size() >= 2) want = std::size_t{answer[1]} + 1;
  }
  return answer;
}

}  // namespace meterops::vantor
