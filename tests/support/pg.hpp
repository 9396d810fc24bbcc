// A fresh PostgreSQL database per test, copied from the template database
// that scripts/test (or `eval "$(scripts/testdb start DIR)"`) prepared with
// db/schema.sql. Dropped on destruction, so tests run in parallel safely.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace meterops::testing {

class TestDatabase {
 public:
  TestDatabase();   // fails the test run with a clear message when no server is configured
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  // postgresql://postgres@127.0.0.1:PORT/<fresh database>
  const std::string& url() const { return url_; }
  const std::string& name() const { return name_; }

  // Runs SQL (several statements allowed); throws std::runtime_error on error.
  void exec(const std::string& sql) const;
  // Rows of a query as a JSON array of objects (column order kept).
  nlohmann::ordered_json query(const std::string& sql) const;

 private:
  std::string server_;
  std::string name_;
  std::string url_;
};

}  // namespace meterops::testing
