#include "support/pg.hpp"

#include <libpq-fe.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace meterops::testing {

namespace {

using Conn = std::unique_ptr<PGconn, decltype(&PQfinish)>;

Conn connect(const std::string& url) {
  Conn c(PQconnectdb(url.c_str()), &PQfinish);
  if (PQstatus(c.get()) != CONNECTION_OK) {
    throw std::runtime_error("test database: cannot connect: " + std::string(PQerrorMessage(c.get())));
  }
  return c;
}

void run(PGconn* c, const std::string& sql) {
  std::unique_ptr<PGresult, decltype(&PQclear)> r(PQexec(c, sql.c_str()), &PQclear);
  auto st = PQresultStatus(r.get());
  if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
    throw std::runtime_error("test database: " + std::string(PQresultErrorMessage(r.get())) + " in: " + sql);
  }
}

}  // namespace

TestDatabase::TestDatabase() {
  const char* server = std::getenv("METEROPS_TEST_PG");
  if (!server || !*server) {
    throw std::runtime_error(
        "METEROPS_TEST_PG is not set: run the tests through scripts/test, or start a server with "
        "eval \"$(scripts/testdb start /tmp/meterops-db)\"");
  }
  server_ = server;
  static std::atomic<int> counter{0};
  name_ = "t_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
  auto admin = connect(server_ + "/postgres");
  // CREATE DATABASE from a template fails while another session uses the
  // template; retry briefly.
  for (int attempt = 0;; ++attempt) {
    try {
      run(admin.get(), "CREATE DATABASE " + name_ + " TEMPLATE meterops_template");
      break;
    } catch (const std::exception&) {
      if (attempt >= 50) throw;
      usleep(100000);
    }
  }
  url_ = server_ + "/" + name_;
}

TestDatabase::~TestDatabase() {
  try {
    auto admin = connect(server_ + "/postgres");
    run(admin.get(), "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  } catch (...) {
  }
}

void TestDatabase::exec(const std::string& sql) const {
  auto c = connect(url_);
  run(c.get(), sql);
}

nlohmann::ordered_json TestDatabase::query(const std::string& sql) const {
  auto c = connect(url_);
  std::string wrapped = "SELECT coalesce(json_agg(q), '[]'::json)::text FROM (" + sql + ") q";
  std::unique_ptr<PGresult, decltype(&PQclear)> r(PQexec(c.get(), wrapped.c_str()), &PQclear);
  if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
    throw std::runtime_error("test database: " + std::string(PQresultErrorMessage(r.get())) + " in: " + sql);
  }
  return nlohmann::ordered_json::parse(PQgetvalue(r.get(), 0, 0));
}

}  // namespace meterops::testing
