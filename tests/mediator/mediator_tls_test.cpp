// TLS between the clients and mediator_sim, with a throw-away CA made by
// openssl for each test run.
#include <cstdlib>

#include <gtest/gtest.h>

#include "mediator/api_core.hpp"
#include "mediator/channel.hpp"
#include "support/mediator_sim.hpp"
#include "support/process.hpp"

namespace mt = meterops::testing;
using namespace meterops;

namespace {

// A CA, a server certificate for 127.0.0.1 and a client certificate.
bool make_certs(const mt::TempDir& d) {
  std::string script =
      "set -e; cd " + d.path() +
      "; openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 1 -subj /CN=test-ca 2>/dev/null"
      "; openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=127.0.0.1 2>/dev/null"
      "; printf 'subjectAltName=IP:127.0.0.1,DNS:localhost' > ext"
      "; openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 1"
      " -extfile ext 2>/dev/null"
      "; openssl req -newkey rsa:2048 -nodes -keyout client.key -out client.csr -subj /CN=meterops-job 2>/dev/null"
      "; openssl x509 -req -in client.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out client.pem -days 1 2>/dev/null";
  return mt::run_process("/bin/sh", {"-c", script}).status == 0;
}

// Sets (or unsets) the client's certificate variables for one scope.
class ClientTls {
 public:
  ClientTls(std::optional<std::string> ca, std::optional<std::string> cert = {}, std::optional<std::string> key = {}) {
    set("MEDIATOR_CA_CERT", ca);
    set("MEDIATOR_CLIENT_CERT", cert);
    set("MEDIATOR_CLIENT_KEY", key);
  }
  ~ClientTls() {
    for (const char* v : {"MEDIATOR_CA_CERT", "MEDIATOR_CLIENT_CERT", "MEDIATOR_CLIENT_KEY"}) unsetenv(v);
  }

 private:
  static void set(const char* name, const std::optional<std::string>& v) {
    if (v) {
      setenv(name, v->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
};

std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const mediator::MediatorClientException& e) {
    return e.code_str();
  } catch (const util::ValueError& e) {
    return std::string("ValueError: ") + e.what();
  }
  return "ok";
}

class MediatorTls : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!make_certs(d)) GTEST_SKIP() << "openssl is not available";
    mediator::set_deadline(std::chrono::seconds(3));
  }
  void TearDown() override { mediator::set_deadline(std::chrono::seconds(30)); }
  mt::TempDir d;
};

}  // namespace

TEST_F(MediatorTls, ClientTrustsOnlyItsCa) {
  mt::MediatorSim sim(nlohmann::json{{"S1", {{"hardware", "P1.bx"}}}}, 0,
                      {"--tls-cert", d.file("server.pem"), "--tls-key", d.file("server.key")});
  auto hardware = [&] { mediator::VantorMediatorAPI(sim.address()).hardware("S1"); };
  {
    ClientTls tls(d.file("ca.pem"));
    EXPECT_EQ(mediator::VantorMediatorAPI(sim.address()).hardware("S1"), "P1.bx");
  }
  {
    // The CA as PEM text in the variable, as containers get it.
    ClientTls tls(mt::read_file(d.file("ca.pem")));
    EXPECT_EQ(error_of(hardware), "ok");
  }
  {
    // Plaintext against a TLS server fails with a status, never a hang.
    ClientTls none(std::nullopt);
    EXPECT_EQ(error_of(hardware), "UNAVAILABLE");
  }
  {
    // Another CA's certificate is not trusted.
    ClientTls tls(d.file("client.pem"));
    EXPECT_EQ(error_of(hardware), "UNAVAILABLE");
  }
}

TEST_F(MediatorTls, MutualTlsFromTheEnvironment) {
  mt::ProcessOptions server_env;
  server_env.env = {{"MEDIATOR_SERVER_CERT", d.file("server.pem")},
                    {"MEDIATOR_SERVER_KEY", d.file("server.key")},
                    {"MEDIATOR_CA_CERT", d.file("ca.pem")}};
  mt::MediatorSim sim(nlohmann::json{{"S1", {{"firmware_version", "9.9"}}}}, 0, {}, server_env);
  EXPECT_NE(sim.log().find("client_certificates=required"), std::string::npos) << sim.log();
  auto firmware = [&] { mediator::VantorMediatorAPI(sim.address()).firmware_version("S1"); };
  {
    ClientTls tls(d.file("ca.pem"));  // no client certificate
    EXPECT_EQ(error_of(firmware), "UNAVAILABLE");
  }
  {
    ClientTls tls(d.file("ca.pem"), d.file("client.pem"), d.file("client.key"));
    EXPECT_EQ(mediator::VantorMediatorAPI(sim.address()).firmware_version("S1"), "9.9");
  }
}

TEST_F(MediatorTls, BadCertificateSettingsNameTheVariableNotTheContents) {
  mt::write_file(d.file("notes.txt"), "secret-looking text");
  struct Case {
    std::optional<std::string> ca, cert, key;
    std::string message;
  };
  const std::vector<Case> cases = {
      {d.file("missing.pem"), {}, {}, "MEDIATOR_CA_CERT: cannot read the file"},
      {d.file("notes.txt"), {}, {}, "MEDIATOR_CA_CERT: " + d.file("notes.txt") + " holds no PEM block"},
      {d.file("ca.pem"), d.file("client.pem"), {}, "MEDIATOR_CLIENT_CERT is set but MEDIATOR_CLIENT_KEY is not"},
      {{}, {}, d.file("client.key"), "MEDIATOR_CLIENT_KEY is set but MEDIATOR_CLIENT_CERT is not"},
      {d.file("ca.pem"), d.file("client.pem"), d.file("nokey.pem"), "MEDIATOR_CLIENT_KEY: cannot read the file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    ClientTls tls(c.ca, c.cert, c.key);
    std::string e = error_of([] { mediator::VantorMediatorAPI("127.0.0.1:50051"); });
    EXPECT_NE(e.find("ValueError: " + c.message), std::string::npos) << e;
    EXPECT_EQ(e.find("secret-looking"), std::string::npos) << e;
    EXPECT_EQ(e.find("BEGIN"), std::string::npos) << e;
  }
}
