// The database client: PostgREST-style query chains over two backends.
//
//   auto db = util::supa_client(url, anon_key, role_key);            // default schema
//   auto rows = util::as_list(db.table("meter_registry")
//                                 .select("id,ip_address,serial,hardware")
//                                 .eq("esco", esco_id).eq("mode", "active")
//                                 .order("serial").execute());
//
// The URL scheme picks the backend: http(s):// talks to the hosted project's
// REST interface under /rest/v1/; postgres(ql):// runs one parameterised SQL
// statement per chain through libpq and returns the same JSON rows.
// A client is cheap to copy and safe to use from many threads at once.
// Unreachable service: ConnectError. Any other failure: GeneralError with the
// service's message. Keys and tokens never appear in errors or logs.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "util/errors.hpp"

namespace meterops::util {

using Row = nlohmann::ordered_json;

// The result of execute(): `data` is a JSON array of row objects.
struct Response {
  Row data = Row::array();
};

// The rows as a list (empty when none).
std::vector<Row> as_list(const Response& response);
// The first row; LookupError when there is none.
Row as_first_item(const Response& response);

namespace detail {

struct Filter {
  std::string column;  // may be a dotted path into an embedded resource
  std::string op;      // "eq", "neq", "gt", "ilike", "in", "is"
  Row value;           // scalar; an array for "in"; "null"/"true"/"false" text for "is"
};

// One query chain, as built; what a backend executes.
struct Query {
  std::optional<std::string> schema;
  std::string table;
  std::string method = "select";  // "select", "update", "upsert"
  std::string select = "*";
  std::vector<Filter> filters;
  std::optional<std::pair<std::string, bool>> order;  // column, descending
  std::optional<long long> limit;
  Row body;                 // update: object of new values; upsert: array of rows
  std::string on_conflict;  // upsert key columns, comma-separated
  bool ignore_duplicates = false;
};

class Backend {
 public:
  virtual ~Backend() = default;
  virtual Response execute(const Query& query) = 0;
};

}  // namespace detail

class QueryBuilder {
 public:
  QueryBuilder(std::shared_ptr<detail::Backend> backend, detail::Query query)
      : backend_(std::move(backend)), query_(std::move(query)) {}

  QueryBuilder& select(const std::string& columns);
  QueryBuilder& eq(const std::string& column, const Row& value);
  QueryBuilder& neq(const std::string& column, const Row& value);
  QueryBuilder& gt(const std::string& column, const Row& value);
  QueryBuilder& ilike(const std::string& column, const std::string& pattern);
  QueryBuilder& in_(const std::string& column, const std::vector<Row>& values);
  QueryBuilder& is_(const std::string& column, const std::string& value);  // "null", "true", "false"
  QueryBuilder& order(const std::string& column, bool desc = false);
  QueryBuilder& limit(long long n);
  QueryBuilder& update(const Row& values);
  QueryBuilder& upsert(const Row& rows, const std::string& on_conflict = "", bool ignore_duplicates = false);

  Response execute() const;
  const detail::Query& query() const { return query_; }

 private:
  std::shared_ptr<detail::Backend> backend_;
  detail::Query query_;
};

class Client {
 public:
  Client(std::shared_ptr<detail::Backend> backend, std::optional<std::string> schema)
      : backend_(std::move(backend)), schema_(std::move(schema)) {}
  QueryBuilder table(const std::string& name) const;
  const std::optional<std::string>& schema() const { return schema_; }

 private:
  std::shared_ptr<detail::Backend> backend_;
  std::optional<std::string> schema_;
};

// Builds a client for `url` (http://, https://, postgres://, postgresql://);
// ValueError for any other scheme. `key` is the project's anonymous key,
// `role_key` the key whose role the requests run as; `schema` none means the
// default schema.
Client supa_client(const std::string& url, const std::string& key, const std::string& role_key,
                   const std::optional<std::string>& schema = std::nullopt);

}  // namespace meterops::util
