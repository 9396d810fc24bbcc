#include "orchestrate/adapter/dns.hpp"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <ares.h>
#include <netdb.h>
#include <sys/select.h>

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
  Result result;
  result.type = type;
  ares_query(channel, name.c_str(), ns_c_in, type == RecordType::A ? ns_t_a : ns_t_aaaa, on_answer, &result);
  auto deadline = std::chrono::steady_clock::now() + timeout + std::chrono::seconds(1);
  while (!result.done && std::chrono::steady_clock::now() < deadline) {
    fd_set readers, writers;
    FD_ZERO(&readers);
    FD_ZERO(&writers);
    int nfds = ares_fds(channel, &readers, &writers);
    timeval tv{0, 100000};
    if (nfds > 0) select(nfds, &readers, &writers, nullptr, &tv);
    ares_process(channel, &readers, &writers);
  }
  if (!result.done) throw util::GeneralError("DNS lookup of " + name + " timed out");
  if (!result.error.empty()) throw util::GeneralError("DNS lookup of " + name + " failed: " + result.error);
  return result.address;
}

}  // namespace meterops::orchestrate
