#include "orchestrate/adapter/dns.hpp"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <ares.h>
#include <netdb.h>
#include <poll.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "util/errors.hpp"

namespace meterops::orchestrate {

namespace {

struct Result {
  bool done = false;
  std::string address;
  std::string error;
  RecordType type;
};

void on_answer(void* arg, int status, int, unsigned char* abuf, int alen) {
  auto* r = static_cast<Result*>(arg);
  r->done = true;
  if (status != ARES_SUCCESS) {
    r->error = ares_strerror(status);
    return;
  }
  char text[INET6_ADDRSTRLEN] = {0};
  if (r->type == RecordType::A) {
    ares_addrttl addrs[4];
    int n = 4;
    int rc = ares_parse_a_reply(abuf, alen, nullptr, addrs, &n);
    if (rc != ARES_SUCCESS || n < 1) {
      r->error = rc != ARES_SUCCESS ? ares_strerror(rc) : "no A record";
      return;
    }
    inet_ntop(AF_INET, &addrs[0].ipaddr, text, sizeof text);
  } else {
    ares_addr6ttl addrs[4];
    int n = 4;
    int rc = ares_parse_aaaa_reply(abuf, alen, nullptr, addrs, &n);
    if (rc != ARES_SUCCESS || n < 1) {
      r->error = rc != ARES_SUCCESS ? ares_strerror(rc) : "no AAAA record";
      return;
    }
    inet_ntop(AF_INET6, &addrs[0].ip6addr, text, sizeof text);
  }
  r->address = text;
}

// "host:port" with one colon is IPv4 or a name with a port; a bare IPv6
// address has several colons and no port unless bracketed.
std::string to_csv_server(const std::string& server) {
  if (server.empty()) throw util::GeneralError("no DNS server given");
  if (server.front() == '[') return server;
  if (std::count(server.begin(), server.end(), ':') > 1) return "[" + server + "]";
  return server;
}

}  // namespace

std::string resolve_first(const std::string& name, const std::string& server, RecordType type,
                          std::chrono::milliseconds timeout) {
  static std::once_flag init;
  std::call_once(init, [] { ares_library_init(ARES_LIB_INIT_ALL); });
  // Declared before the channel: destroying a channel with a query still
  // pending calls the callback, which must find the result alive.
  Result result;
  result.type = type;
  ares_options opts{};
  opts.timeout = static_cast<int>(timeout.count());
  opts.tries = 1;
  opts.lookups = const_cast<char*>("b");
  ares_channel channel = nullptr;
  int rc = ares_init_options(&channel, &opts, ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_LOOKUPS);
  if (rc != ARES_SUCCESS) throw util::GeneralError(std::string("DNS resolver: ") + ares_strerror(rc));
  std::unique_ptr<std::remove_pointer_t<ares_channel>, decltype(&ares_destroy)> guard(channel, &ares_destroy);
  rc = ares_set_servers_ports_csv(channel, to_csv_server(server).c_str());
  if (rc != ARES_SUCCESS) throw util::GeneralError("bad DNS server '" + server + "': " + ares_strerror(rc));
  ares_query(channel, name.c_str(), ns_c_in, type == RecordType::A ? ns_t_a : ns_t_aaaa, on_answer, &result);
  // poll(), not select(): a busy process may hold descriptors beyond FD_SETSIZE.
  auto deadline = std::chrono::steady_clock::now() + timeout + std::chrono::seconds(1);
  while (!result.done && std::chrono::steady_clock::now() < deadline) {
    ares_socket_t socks[ARES_GETSOCK_MAXNUM];
    int bits = ares_getsock(channel, socks, ARES_GETSOCK_MAXNUM);
    pollfd fds[ARES_GETSOCK_MAXNUM];
    nfds_t n = 0;
    for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
      short events = 0;
      if (ARES_GETSOCK_READABLE(bits, i)) events |= POLLIN;
      if (ARES_GETSOCK_WRITABLE(bits, i)) events |= POLLOUT;
      if (events == 0) continue;
      fds[n++] = pollfd{socks[i], events, 0};
    }
    if (n == 0) {
      ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);  // lets c-ares notice its own time-outs
      break;
    }
    poll(fds, n, 100);
    bool any = false;
    for (nfds_t i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      any = true;
      bool readable = fds[i].revents & (POLLIN | POLLERR | POLLHUP);
      bool writable = fds[i].revents & POLLOUT;
      ares_process_fd(channel, readable ? fds[i].fd : ARES_SOCKET_BAD, writable ? fds[i].fd : ARES_SOCKET_BAD);
    }
    if (!any) ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
  }
  if (!result.done) throw util::GeneralError("DNS lookup of " + name + " timed out");
  if (!result.error.empty()) throw util::GeneralError("DNS lookup of " + name + " failed: " + result.error);
  return result.address;
}

}  // namespace meterops::orchestrate
