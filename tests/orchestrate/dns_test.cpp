// DNS questions to an explicit name server: a real dnsmasq on loopback.
#include "orchestrate/adapter/dns.hpp"

#include <gtest/gtest.h>

#include "support/dns_server.hpp"
#include "util/errors.hpp"

namespace mt = meterops::testing;
using namespace meterops;
using namespace meterops::orchestrate;
using namespace std::chrono_literals;

namespace {
std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const util::GeneralError& e) {
    return e.what();
  }
  return "no error";
}
}  // namespace

TEST(Dns, AnswersAndFailures) {
  mt::DnsServer dns({"app.fly.test,127.0.0.7", "app.flycast,fdaa::42", "both.test,10.1.2.3,fdaa::7"});
  EXPECT_EQ(resolve_first("app.fly.test", dns.server(), RecordType::A), "127.0.0.7");
  EXPECT_EQ(resolve_first("app.flycast", dns.server(), RecordType::AAAA), "fdaa::42");
  EXPECT_EQ(resolve_first("both.test", dns.server(), RecordType::A), "10.1.2.3");
  EXPECT_EQ(resolve_first("both.test", dns.server(), RecordType::AAAA), "fdaa::7");
  // Only the record type asked for counts.
  EXPECT_NE(error_of([&] { resolve_first("app.flycast", dns.server(), RecordType::A); }).find("app.flycast"),
            std::string::npos);
  EXPECT_NE(error_of([&] { resolve_first("nowhere.test", dns.server(), RecordType::A); }).find("nowhere.test"),
            std::string::npos);
}

TEST(Dns, ServerTexts) {
  mt::DnsServer v6({"app.flycast,fdaa::42"}, "::1");
  EXPECT_EQ(resolve_first("app.flycast", v6.server(), RecordType::AAAA), "fdaa::42");  // "[::1]:port"
  EXPECT_NE(error_of([] { resolve_first("x.test", "not-an-address", RecordType::A); }).find("bad DNS server"),
            std::string::npos);
  EXPECT_NE(error_of([] { resolve_first("x.test", "", RecordType::A); }), "no error");
}

TEST(Dns, SilentServerTimesOut) {
  mt::SilentUdpServer silent;
  EXPECT_NE(error_of([&] { resolve_first("x.test", silent.server(), RecordType::A, 300ms); }).find("x.test"),
            std::string::npos);
}
