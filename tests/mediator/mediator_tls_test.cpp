#include <cstdlib>

#include <gtest/gtest.h>

#include "mediator/api_core.hpp"
#include "mediator/channel.hpp"
#include "support/mediator_sim.hpp"
#include "support/process.hpp"

namespace mt = meterops::testing;
using namespace meterops;

namespace {

// A throw-away CA and a server certificate for 127.0.0.1, made with openssl.
bool make_certs(const mt::TempDir& d) {
  std::string script =
      "set -e; cd " + d.path() +
      "; openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 1 -subj /CN=test-ca 2>/dev/null"
      "; openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=127.0.0.1 2>/dev/null"
      "; printf 'subjectAltName=IP:127.0.0.1,DNS:localhost' > ext"
      "; openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 1"
      " -extfile ext 2>/dev/null";
  return mt::run_process("/bin/sh", {"-c", script}).status == 0;
}

}  // namespace

TEST(MediatorTls, ClientTrustsOnlyItsCa) {
  mt::TempDir d;
  if (!make_certs(d)) GTEST_SKIP() << "openssl is not available";
  mt::MediatorSim sim(nlohmann::json{{"S1", {{"hardware", "P1.bx"}}}}, 0,
                      {"--tls-cert", d.file("server.pem"), "--tls-key", d.file("server.key")});
  setenv("MEDIATOR_CA_CERT", d.file("ca.pem").c_str(), 1);
  {
    mediator::VantorMediatorAPI api(sim.address());
    EXPECT_EQ(api.hardware("S1"), "P1.bx");
  }
  unsetenv("MEDIATOR_CA_CERT");
  // Plaintext against a TLS server fails with a status, never a hang.
  mediator::set_deadline(std::chrono::seconds(3));
  mediator::VantorMediatorAPI plain(sim.address());
  EXPECT_THROW(plain.hardware("S1"), mediator::MediatorClientException);
  mediator::set_deadline(std::chrono::seconds(30));
  setenv("MEDIATOR_CA_CERT", d.file("missing.pem").c_str(), 1);
  EXPECT_THROW(mediator::VantorMediatorAPI(sim.address()), util::ValueError);
  unsetenv("MEDIATOR_CA_CERT");
}
