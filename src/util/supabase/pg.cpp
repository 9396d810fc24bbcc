// Direct PostgreSQL through libpq. Each chain becomes one parameterised
// statement (values only ever travel as parameters) whose result is the
// JSON rows the REST interface would give: columns in select order,
// embedded resources through the catalog's foreign keys. Connections come
// from a small pool shared by every client of the same URL.
#include <libpq-fe.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>

#include "util/settings.hpp"
#include "util/supabase/detail.hpp"

namespace meterops::util::detail {

namespace {

using ResultPtr = std::unique_ptr<PGresult, decltype(&PQclear)>;

std::string quote_ident(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// libpq's messages on one line: log records and errors stay one line each.
std::string trim(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\n' || c == '\t' || c == '\r') c = ' ';
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The URL without its password, for messages.
std::string redact(const std::string& url) {
  auto scheme = url.find("://");
  auto at = url.find('@', scheme == std::string::npos ? 0 : scheme + 3);
  if (scheme == std::string::npos || at == std::string::npos) return url.substr(0, url.find('?'));
  auto colon = url.find(':', scheme + 3);
  std::string out = url;
  if (colon != std::string::npos && colon < at) out = url.substr(0, colon) + ":***" + url.substr(at);
  return out.substr(0, out.find('?'));
}

struct ForeignKey {
  std::string table, ref_table;
  std::vector<std::string> columns, ref_columns;
};

struct Catalog {
  std::map<std::string, std::vector<std::string>> columns;  // table -> columns in order
  std::map<std::string, std::map<std::string, std::string>> types;  // table -> column -> type name
  std::map<std::string, std::vector<std::string>> primary_keys;     // table -> key columns in order
  std::vector<ForeignKey> fks;

  bool is_json(const std::string& table, const std::string& column) const {
    auto t = types.find(table);
    if (t == types.end()) return false;
    auto c = t->second.find(column);
    return c != t->second.end() && (c->second == "json" || c->second == "jsonb");
  }

  bool has_column(const std::string& table, const std::string& column) const {
    auto it = columns.find(table);
    if (it == columns.end()) return false;
    return std::find(it->second.begin(), it->second.end(), column) != it->second.end();
  }
};

class Pool {
 public:
  explicit Pool(std::string url) : url_(std::move(url)), max_(static_cast<std::size_t>(env_int_at_least("SUPABASE_POOL_SIZE", 20, 1))) {}

  PGconn* acquire() {
    std::unique_lock lock(mu_);
    cv_.wait(lock, [&] { return !idle_.empty() || open_ < max_; });
    if (!idle_.empty()) {
      PGconn* c = idle_.back();
      idle_.pop_back();
      if (PQstatus(c) == CONNECTION_OK) return c;
      PQfinish(c);
      --open_;
    }
    ++open_;
    lock.unlock();
    std::string timeout = std::to_string(connect_timeout_seconds());
    const char* keys[] = {"dbname", "connect_timeout", "options", "application_name", nullptr};
    const char* values[] = {url_.c_str(), timeout.c_str(), "-c TimeZone=UTC", "meterops", nullptr};
    PGconn* c = PQconnectdbParams(keys, values, 1);
    if (!c || PQstatus(c) != CONNECTION_OK) {
      std::string err = c ? trim(PQerrorMessage(c)) : "out of memory";
      if (c) PQfinish(c);
      release_slot();
      throw ConnectError("cannot connect to the database at " + redact(url_) + ": " + err);
    }
    return c;
  }

  void release(PGconn* c) {
    std::lock_guard lock(mu_);
    if (PQstatus(c) == CONNECTION_OK && PQtransactionStatus(c) == PQTRANS_IDLE) {
      idle_.push_back(c);
    } else {
      PQfinish(c);
      --open_;
    }
    cv_.notify_one();
  }

  const Catalog& catalog(PGconn* c, const std::string& schema);
  const std::string& url() const { return url_; }

 private:
  void release_slot() {
    std::lock_guard lock(mu_);
    --open_;
    cv_.notify_one();
  }

  std::string url_;
  std::size_t max_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<PGconn*> idle_;
  std::size_t open_ = 0;
  std::mutex catalog_mu_;
  std::map<std::string, std::unique_ptr<Catalog>> catalogs_;
};

std::string run_json(PGconn* c, const std::string& sql, const std::vector<std::optional<std::string>>& params,
                     const std::string& what) {
  std::vector<const char*> values;
  values.reserve(params.size());
  for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
  ResultPtr r(PQexecParams(c, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                           nullptr, 0),
              &PQclear);
  auto st = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
  if (st != PGRES_TUPLES_OK) {
    if (PQstatus(c) != CONNECTION_OK) {
      throw ConnectError("database connection lost during " + what + ": " + trim(PQerrorMessage(c)));
    }
    throw GeneralError("database " + what + " failed: " +
                       trim(r ? PQresultErrorMessage(r.get()) : PQerrorMessage(c)));
  }
  if (PQntuples(r.get()) < 1 || PQgetisnull(r.get(), 0, 0)) return "[]";
  return PQgetvalue(r.get(), 0, 0);
}

const Catalog& Pool::catalog(PGconn* c, const std::string& schema) {
  std::lock_guard lock(catalog_mu_);
  auto it = catalogs_.find(schema);
  if (it != catalogs_.end()) return *it->second;
  static const std::string sql = R"SQL(
SELECT json_build_object(
  'columns', (SELECT coalesce(json_agg(json_build_array(cl.relname, a.attname, ty.typname) ORDER BY cl.relname, a.attnum), '[]')
              FROM pg_attribute a JOIN pg_class cl ON cl.oid = a.attrelid
              JOIN pg_namespace n ON n.oid = cl.relnamespace JOIN pg_type ty ON ty.oid = a.atttypid
              WHERE n.nspname = $1 AND a.attnum > 0 AND NOT a.attisdropped AND cl.relkind IN ('r','v','m','p','f')),
  'pks', (SELECT coalesce(json_agg(json_build_array(cl.relname,
            (SELECT json_agg(a.attname ORDER BY k.ord) FROM unnest(con.conkey) WITH ORDINALITY k(num, ord)
               JOIN pg_attribute a ON a.attrelid = con.conrelid AND a.attnum = k.num))), '[]')
          FROM pg_constraint con JOIN pg_class cl ON cl.oid = con.conrelid
          JOIN pg_namespace n ON n.oid = cl.relnamespace
          WHERE con.contype = 'p' AND n.nspname = $1),
  'fks', (SELECT coalesce(json_agg(json_build_array(cl.relname, fcl.relname,
            (SELECT json_agg(a.attname ORDER BY k.ord) FROM unnest(con.conkey) WITH ORDINALITY k(num, ord)
               JOIN pg_attribute a ON a.attrelid = con.conrelid AND a.attnum = k.num),
            (SELECT json_agg(a.attname ORDER BY k.ord) FROM unnest(con.confkey) WITH ORDINALITY k(num, ord)
               JOIN pg_attribute a ON a.attrelid = con.confrelid AND a.attnum = k.num)) ORDER BY con.conname), '[]')
          FROM pg_constraint con JOIN pg_class cl ON cl.oid = con.conrelid
          JOIN pg_namespace n ON n.oid = cl.relnamespace
          JOIN pg_class fcl ON fcl.oid = con.confrelid JOIN pg_namespace fn ON fn.oid = fcl.relnamespace
          WHERE con.contype = 'f' AND n.nspname = $1 AND fn.nspname = $1))::text)SQL";
  auto j = Row::parse(run_json(c, sql, {schema}, "catalog read"));
  auto cat = std::make_unique<Catalog>();
  for (const auto& col : j["columns"]) {
    const auto table = col[0].get<std::string>();
    cat->columns[table].push_back(col[1].get<std::string>());
    cat->types[table][col[1].get<std::string>()] = col[2].get<std::string>();
  }
  for (const auto& pk : j["pks"]) {
    auto& keys = cat->primary_keys[pk[0].get<std::string>()];
    for (const auto& col : pk[1]) keys.push_back(col.get<std::string>());
  }
  for (const auto& fk : j["fks"]) {
    ForeignKey f{fk[0].get<std::string>(), fk[1].get<std::string>(), {}, {}};
    for (const auto& col : fk[2]) f.columns.push_back(col.get<std::string>());
    for (const auto& col : fk[3]) f.ref_columns.push_back(col.get<std::string>());
    cat->fks.push_back(std::move(f));
  }
  auto& ref = *cat;
  catalogs_[schema] = std::move(cat);
  return ref;
}

std::mutex pools_mu;
std::map<std::string, std::shared_ptr<Pool>>& pools() {
  static auto* p = new std::map<std::string, std::shared_ptr<Pool>>();
  return *p;
}

// Builds one statement; parameters are collected in order.
class SqlBuilder {
 public:
  SqlBuilder(const Catalog& cat, std::string schema, const Query& q) : cat_(cat), schema_(std::move(schema)), q_(q) {}

  std::string select_sql() {
    check_table(q_.table);
    auto items = parse_select(q_.select);
    check_filter_paths(items);
    std::string alias = next_alias();
    std::string where = where_clause(q_.table, alias, "", items);
    std::string sql = "SELECT coalesce(json_agg(r.j), '[]')::text FROM (SELECT " + object_expr(q_.table, alias, "", items) +
                      " AS j FROM " + qualified(q_.table) + " " + alias + where;
    if (q_.order) {
      check_column(q_.table, q_.order->first);
      sql += " ORDER BY " + alias + "." + quote_ident(q_.order->first) + (q_.order->second ? " DESC" : " ASC");
    }
    if (q_.limit) sql += " LIMIT " + param(std::to_string(*q_.limit)) + "::bigint";
    return sql + ") r";
  }

  std::string update_sql() {
    check_table(q_.table);
    check_filter_paths({});
    std::string alias = next_alias();
    std::string set;
    for (auto it = q_.body.begin(); it != q_.body.end(); ++it) {
      check_column(q_.table, it.key());
      if (!set.empty()) set += ", ";
      set += quote_ident(it.key()) + " = " + write_param(q_.table, it.key(), it.value());
    }
    std::string where = where_clause(q_.table, alias, "", {});
    // Writing every row of a table by accident is never what a job means.
    if (where.empty()) throw GeneralError("update of " + q_.table + " without a filter refused");
    return "WITH w AS (UPDATE " + qualified(q_.table) + " " + alias + " SET " + set + where +
           " RETURNING " + alias + ".*) SELECT coalesce(json_agg(to_json(w)), '[]')::text FROM w";
  }

  std::string upsert_sql() {
    check_table(q_.table);
    std::vector<std::string> cols;
    for (const auto& row : q_.body) {
      for (auto it = row.begin(); it != row.end(); ++it) {
        if (std::find(cols.begin(), cols.end(), it.key()) == cols.end()) {
          check_column(q_.table, it.key());
          cols.push_back(it.key());
        }
      }
    }
    if (cols.empty()) throw GeneralError("upsert into " + q_.table + " without columns");
    std::string sql = "WITH w AS (INSERT INTO " + qualified(q_.table) + " (";
    for (std::size_t i = 0; i < cols.size(); ++i) sql += (i ? ", " : "") + quote_ident(cols[i]);
    sql += ") VALUES ";
    bool first_row = true;
    for (const auto& row : q_.body) {
      sql += first_row ? "(" : ", (";
      first_row = false;
      for (std::size_t i = 0; i < cols.size(); ++i) {
        if (i) sql += ", ";
        sql += row.contains(cols[i]) ? write_param(q_.table, cols[i], row[cols[i]]) : "DEFAULT";
      }
      sql += ")";
    }
    std::vector<std::string> keys;
    for (std::size_t s = 0, e; s <= q_.on_conflict.size(); s = e + 1) {
      e = q_.on_conflict.find(',', s);
      if (e == std::string::npos) e = q_.on_conflict.size();
      std::string k = q_.on_conflict.substr(s, e - s);
      k.erase(0, k.find_first_not_of(' '));
      k.erase(k.find_last_not_of(' ') + 1);
      if (!k.empty()) {
        check_column(q_.table, k);
        keys.push_back(k);
      }
    }
    // Without named key columns the REST interface resolves on the primary key.
    if (keys.empty() && cat_.primary_keys.count(q_.table)) keys = cat_.primary_keys.at(q_.table);
    if (!keys.empty()) {
      sql += " ON CONFLICT (";
      for (std::size_t i = 0; i < keys.size(); ++i) sql += (i ? ", " : "") + quote_ident(keys[i]);
      sql += ")";
      std::string updates;
      for (const auto& c : cols) {
        if (std::find(keys.begin(), keys.end(), c) != keys.end()) continue;
        updates += (updates.empty() ? "" : ", ") + quote_ident(c) + " = EXCLUDED." + quote_ident(c);
      }
      sql += (q_.ignore_duplicates || updates.empty()) ? " DO NOTHING" : " DO UPDATE SET " + updates;
    } else if (q_.ignore_duplicates) {
      sql += " ON CONFLICT DO NOTHING";
    }
    return sql + " RETURNING *) SELECT coalesce(json_agg(to_json(w)), '[]')::text FROM w";
  }

  std::vector<std::optional<std::string>> params;

 private:
  std::string qualified(const std::string& table) const { return quote_ident(schema_) + "." + quote_ident(table); }
  std::string next_alias() { return "t" + std::to_string(alias_count_++); }
  std::string param(std::optional<std::string> v) {
    params.push_back(std::move(v));
    return "$" + std::to_string(params.size());
  }
  std::string value_param(const Row& v) {
    if (v.is_null()) return param(std::nullopt);
    return param(value_text(v));
  }
  // A value written into a column: json/jsonb columns take the value as
  // JSON (a text becomes a JSON string), as the REST interface stores it.
  std::string write_param(const std::string& table, const std::string& column, const Row& v) {
    if (!v.is_null() && cat_.is_json(table, column)) return param(v.dump());
    return value_param(v);
  }

  void check_table(const std::string& t) const {
    if (!cat_.columns.count(t)) {
      throw GeneralError("relation \"" + schema_ + "." + t + "\" does not exist");
    }
  }
  void check_column(const std::string& t, const std::string& c) const {
    if (!cat_.has_column(t, c)) throw GeneralError("column " + t + "." + c + " does not exist");
  }

  // How `child` hangs off `parent`: the join condition and whether the
  // child is one row (many-to-one) or many (one-to-many).
  struct Relation {
    std::string target;
    std::string join;
    bool to_one;
  };
  Relation relation(const std::string& parent, const std::string& palias, const std::string& name,
                    const std::string& calias) const {
    auto join_of = [&](const ForeignKey& fk, bool parent_holds) {
      std::string out;
      for (std::size_t i = 0; i < fk.columns.size(); ++i) {
        if (i) out += " AND ";
        out += parent_holds ? calias + "." + quote_ident(fk.ref_columns[i]) + " = " + palias + "." + quote_ident(fk.columns[i])
                            : calias + "." + quote_ident(fk.columns[i]) + " = " + palias + "." + quote_ident(fk.ref_columns[i]);
      }
      return out;
    };
    for (const auto& fk : cat_.fks) {  // parent row points at one child row
      if (fk.table == parent && (fk.ref_table == name || (fk.columns.size() == 1 && fk.columns[0] == name))) {
        return {fk.ref_table, join_of(fk, true), true};
      }
    }
    for (const auto& fk : cat_.fks) {  // child rows point at the parent
      if (fk.ref_table == parent && fk.table == name) return {fk.table, join_of(fk, false), false};
    }
    throw GeneralError("could not find a relationship between '" + parent + "' and '" + name + "' in the schema");
  }

  // A filter on "resource.column" needs that resource embedded in the
  // select; one that matched nothing would silently widen the result.
  void check_filter_paths(const std::vector<SelectItem>& items) const {
    std::set<std::string> paths{""};
    std::function<void(const std::vector<SelectItem>&, const std::string&)> walk = [&](const auto& list, const auto& prefix) {
      for (const auto& item : list) {
        if (!item.embed) continue;
        std::string p = prefix.empty() ? item.name : prefix + "." + item.name;
        paths.insert(p);
        walk(item.children, p);
      }
    };
    walk(items, "");
    for (const auto& f : q_.filters) {
      auto dot = f.column.rfind('.');
      std::string path = dot == std::string::npos ? "" : f.column.substr(0, dot);
      if (!paths.count(path)) {
        throw GeneralError("filter on " + f.column + ": '" + path + "' is not an embedded resource in this request");
      }
    }
  }

  // Filters whose dotted path equals `path` ("" for the top table).
  std::string filters_for(const std::string& table, const std::string& alias, const std::string& path) {
    std::string out;
    for (const auto& f : q_.filters) {
      auto dot = f.column.rfind('.');
      std::string fpath = dot == std::string::npos ? "" : f.column.substr(0, dot);
      std::string col = dot == std::string::npos ? f.column : f.column.substr(dot + 1);
      if (fpath != path) continue;
      check_column(table, col);
      std::string c = alias + "." + quote_ident(col);
      std::string cond;
      if (f.op == "eq") {
        cond = c + " = " + value_param(f.value);
      } else if (f.op == "neq") {
        cond = c + " <> " + value_param(f.value);
      } else if (f.op == "gt") {
        cond = c + " > " + value_param(f.value);
      } else if (f.op == "ilike") {
        std::string pattern = value_text(f.value);
        std::replace(pattern.begin(), pattern.end(), '*', '%');  // the REST interface's wildcard
        cond = c + "::text ILIKE " + param(pattern);
      } else if (f.op == "in") {
        if (f.value.empty()) {
          cond = "FALSE";
        } else {
          cond = c + " IN (";
          bool first = true;
          for (const auto& v : f.value) {
            cond += (first ? "" : ", ") + value_param(v);
            first = false;
          }
          cond += ")";
        }
      } else if (f.op == "is") {
        std::string v = value_text(f.value);
        if (v == "null") cond = c + " IS NULL";
        else if (v == "true") cond = c + " IS TRUE";
        else if (v == "false") cond = c + " IS FALSE";
        else throw GeneralError("unsupported is value: " + v);
      } else {
        throw GeneralError("unsupported filter " + f.op);
      }
      out += (out.empty() ? "" : " AND ") + cond;
    }
    return out;
  }

  // WHERE for `table` at `path`: its own filters plus EXISTS for every
  // !inner embedding (with that embedding's filters inside).
  std::string where_clause(const std::string& table, const std::string& alias, const std::string& path,
                           const std::vector<SelectItem>& items) {
    std::string cond = filters_for(table, alias, path);
    for (const auto& item : items) {
      if (!item.embed || !item.inner) continue;
      std::string calias = next_alias();
      auto rel = relation(table, alias, item.name, calias);
      std::string child_path = path.empty() ? item.name : path + "." + item.name;
      std::string inner = where_clause(rel.target, calias, child_path, item.children);
      std::string exists = "EXISTS (SELECT 1 FROM " + qualified(rel.target) + " " + calias + " WHERE " + rel.join +
                           (inner.empty() ? "" : " AND " + inner.substr(7)) + ")";
      cond += (cond.empty() ? "" : " AND ") + exists;
    }
    return cond.empty() ? "" : " WHERE " + cond;
  }

  std::string object_expr(const std::string& table, const std::string& alias, const std::string& path,
                          const std::vector<SelectItem>& items) {
    std::vector<std::string> parts;
    for (const auto& item : items) {
      if (item.embed) {
        std::string calias = next_alias();
        auto rel = relation(table, alias, item.name, calias);
        std::string child_path = path.empty() ? item.name : path + "." + item.name;
        std::string obj = object_expr(rel.target, calias, child_path, item.children);
        std::string where = where_clause(rel.target, calias, child_path, item.children);
        std::string cond = " WHERE " + rel.join + (where.empty() ? "" : " AND " + where.substr(7));
        std::string expr = rel.to_one
                               ? "(SELECT " + obj + " FROM " + qualified(rel.target) + " " + calias + cond + " LIMIT 1)"
                               : "coalesce((SELECT json_agg(" + obj + ") FROM " + qualified(rel.target) + " " + calias +
                                     cond + "), '[]'::json)";
        parts.push_back(param(item.name) + "::text, " + expr);
      } else if (item.name == "*") {
        for (const auto& col : cat_.columns.at(table)) parts.push_back(param(col) + "::text, " + alias + "." + quote_ident(col));
      } else {
        check_column(table, item.name);
        parts.push_back(param(item.name) + "::text, " + alias + "." + quote_ident(item.name));
      }
    }
    if (parts.size() > 50) {
      throw GeneralError("select of more than 50 columns from " + table + " is not supported");
    }
    std::string out = "json_build_object(";
    for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? ", " : "") + parts[i];
    return out + ")";
  }

  const Catalog& cat_;
  std::string schema_;
  const Query& q_;
  int alias_count_ = 0;
};

class PgBackend : public Backend {
 public:
  explicit PgBackend(std::shared_ptr<Pool> pool) : pool_(std::move(pool)) {}

  Response execute(const Query& q) override {
    if (q.method == "upsert" && q.body.empty()) return Response{};  // nothing to write
    PGconn* c = pool_->acquire();
    struct Return {
      Pool& pool;
      PGconn* c;
      ~Return() { pool.release(c); }
    } back{*pool_, c};
    std::string schema = q.schema.value_or("public");
    const Catalog& cat = pool_->catalog(c, schema);
    SqlBuilder b(cat, schema, q);
    std::string sql = q.method == "select" ? b.select_sql() : q.method == "update" ? b.update_sql() : b.upsert_sql();
    std::string what = (q.method == "select" ? "select from " : q.method == "update" ? "update of " : "upsert into ") + q.table;
    Response r;
    auto text = run_json(c, sql, b.params, what);
    r.data = Row::parse(text, nullptr, false);
    if (r.data.is_discarded() || !r.data.is_array()) throw GeneralError("database " + what + " gave rows that are not JSON");
    return r;
  }

 private:
  std::shared_ptr<Pool> pool_;
};

}  // namespace

std::shared_ptr<Backend> make_pg_backend(const std::string& url) {
  std::lock_guard lock(pools_mu);
  auto& p = pools()[url];
  if (!p) p = std::make_shared<Pool>(url);
  return std::make_shared<PgBackend>(p);
}

}  // namespace meterops::util::detail
