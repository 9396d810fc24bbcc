#include "util/supabase.hpp"

#include "util/settings.hpp"
#include "util/supabase/detail.hpp"

namespace meterops::util {

std::vector<Row> as_list(const Response& response) {
  std::vector<Row> rows;
  if (response.data.is_array()) {
    rows.reserve(response.data.size());
    for (const auto& r : response.data) rows.push_back(r);
  }
  return rows;
}

Row as_first_item(const Response& response) {
  if (!response.data.is_array() || response.data.empty()) throw LookupError("the query returned no rows");
  return response.data.front();
}

QueryBuilder& QueryBuilder::select(const std::string& columns) {
  query_.select = columns;
  return *this;
}
QueryBuilder& QueryBuilder::eq(const std::string& c, const Row& v) {
  query_.filters.push_back({c, "eq", v});
  return *this;
}
QueryBuilder& QueryBuilder::neq(const std::string& c, const Row& v) {
  query_.filters.push_back({c, "neq", v});
  return *this;
}
QueryBuilder& QueryBuilder::gt(const std::string& c, const Row& v) {
  query_.filters.push_back({c, "gt", v});
  return *this;
}
QueryBuilder& QueryBuilder::ilike(const std::string& c, const std::string& pattern) {
  query_.filters.push_back({c, "ilike", pattern});
  return *this;
}
QueryBuilder& QueryBuilder::in_(const std::string& c, const std::vector<Row>& values) {
  Row arr = Row::array();
  for (const auto& v : values) arr.push_back(v);
  query_.filters.push_back({c, "in", arr});
  return *this;
}
QueryBuilder& QueryBuilder::is_(const std::string& c, const std::string& v) {
  query_.filters.push_back({c, "is", v});
  return *this;
}
QueryBuilder& QueryBuilder::order(const std::string& column, bool desc) {
  query_.order = std::make_pair(column, desc);
  return *this;
}
QueryBuilder& QueryBuilder::limit(long long n) {
  query_.limit = n;
  return *this;
}
QueryBuilder& QueryBuilder::update(const Row& values) {
  query_.method = "update";
  query_.body = values;
  return *this;
}
QueryBuilder& QueryBuilder::upsert(const Row& rows, const std::string& on_conflict, bool ignore_duplicates) {
  query_.method = "upsert";
  query_.body = rows.is_array() ? rows : Row::array({rows});
  query_.on_conflict = on_conflict;
  query_.ignore_duplicates = ignore_duplicates;
  return *this;
}

Response QueryBuilder::execute() const {
  if (query_.method == "update" && (!query_.body.is_object() || query_.body.empty())) {
    throw ValueError("update needs a map of new values");
  }
  // Writing every row of a table by accident is never what a job means.
  if (query_.method == "update" && query_.filters.empty()) {
    throw GeneralError("update of " + query_.table + " without a filter refused");
  }
  if (query_.method == "upsert") {
    for (const auto& r : query_.body) {
      if (!r.is_object()) throw ValueError("upsert rows must be maps of column to value");
    }
  }
  return backend_->execute(query_);
}

QueryBuilder Client::table(const std::string& name) const {
  detail::Query q;
  q.schema = schema_;
  q.table = name;
  return QueryBuilder(backend_, std::move(q));
}

Client supa_client(const std::string& url, const std::string& key, const std::string& role_key,
                   const std::optional<std::string>& schema) {
  auto scheme_end = url.find("://");
  std::string scheme = scheme_end == std::string::npos ? "" : url.substr(0, scheme_end);
  if (scheme == "http" || scheme == "https") {
    return Client(detail::make_rest_backend(url, key, role_key), schema);
  }
  if (scheme == "postgres" || scheme == "postgresql") {
    return Client(detail::make_pg_backend(url), schema);
  }
  throw ValueError("database URL must start with https://, http://, postgres:// or postgresql://");
}

namespace detail {

long connect_timeout_seconds() {
  static const long value = static_cast<long>(env_int_at_least("SUPABASE_CONNECT_TIMEOUT_SECONDS", 10, 1));
  return value;
}

long request_timeout_seconds() {
  static const long value = static_cast<long>(env_int_at_least("SUPABASE_TIMEOUT_SECONDS", 300, 1));
  return value;
}

std::string compact_select(const std::string& text) {
  std::string out;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) continue;
    out += c;
  }
  return out;
}

namespace {

std::vector<SelectItem> parse_items(const std::string& s, std::size_t& i, int depth) {
  std::vector<SelectItem> items;
  for (;;) {
    std::size_t start = i;
    while (i < s.size() && s[i] != ',' && s[i] != '(' && s[i] != ')') ++i;
    std::string token = s.substr(start, i - start);
    if (token.empty()) throw GeneralError("bad select text: an empty column name in '" + s + "'");
    SelectItem item;
    auto bang = token.find('!');
    item.name = token.substr(0, bang);
    if (bang != std::string::npos) {
      std::string hint = token.substr(bang + 1);
      if (hint == "inner") {
        item.inner = true;
      } else if (hint != "left") {
        throw GeneralError("bad select text: unknown hint !" + hint);
      }
    }
    if (i < s.size() && s[i] == '(') {
      ++i;
      item.embed = true;
      item.children = parse_items(s, i, depth + 1);
    }
    items.push_back(std::move(item));
    if (i == s.size()) {
      if (depth > 0) throw GeneralError("bad select text: missing ')' in '" + s + "'");
      return items;
    }
    char c = s[i++];
    if (c == ',') continue;
    if (c == ')' && depth > 0) return items;
    throw GeneralError("bad select text: unexpected '" + std::string(1, c) + "' in '" + s + "'");
  }
}

}  // namespace

std::vector<SelectItem> parse_select(const std::string& text) {
  std::string s = compact_select(text);
  if (s.empty()) s = "*";
  std::size_t i = 0;
  auto items = parse_items(s, i, 0);
  if (items.empty()) throw GeneralError("bad select text: nothing selected");
  return items;
}

std::string value_text(const Row& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_null()) return "null";
  return v.dump();
}

}  // namespace detail

}  // namespace meterops::util
