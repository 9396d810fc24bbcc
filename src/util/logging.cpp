#include "util/logging.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstdio>

#include <fmt/chrono.h>
#include <fmt/format.h>
#include <spdlog/sinks/stdout_sinks.h>

namespace meterops::util {

namespace {

struct State {
  std::atomic<int> level{static_cast<int>(Level::info)};
  std::atomic<bool> json{false};
  std::mutex capture_mu;
  std::vector<LogCapture*> captures;
  std::shared_ptr<spdlog::sinks::stderr_sink_mt> sink;

  State() {
    if (const char* l = std::getenv("LOG_LEVEL")) {
      if (auto parsed = parse_level(l)) level = static_cast<int>(*parsed);
    }
    if (const char* f = std::getenv("LOG_FORMAT")) {
      std::string v(f);
      std::transform(v.begin(), v.end(), v.begin(), [](unsigned char c) { return std::tolower(c); });
      json = v == "json";
    }
    sink = std::make_shared<spdlog::sinks::stderr_sink_mt>();
    sink->set_pattern("%v");
  }
};

State& state() {
  static State s;
  return s;
}

std::string now_iso() {
  auto now = std::chrono::time_point_cast<std::chrono::microseconds>(std::chrono::system_clock::now());
  return fmt::format("{:%Y-%m-%dT%H:%M:%S}Z", now);
}

// Console values: text as is (quoted when it holds blanks or '='), the rest as
// compact JSON.
std::string console_value(const Fields& v) {
  if (v.is_string()) {
    const auto& s = v.get_ref<const std::string&>();
    bool plain = !s.empty() && std::none_of(s.begin(), s.end(), [](char c) {
      return c == ' ' || c == '=' || c == '"' || c == '\n' || c == '\t';
    });
    return plain ? s : Fields(s).dump(-1, ' ', false, Fields::error_handler_t::replace);
  }
  return v.dump(-1, ' ', false, Fields::error_handler_t::replace);
}

}  // namespace

std::string_view level_name(Level level) {
  switch (level) {
    case Level::debug: return "debug";
    case Level::info: return "info";
    case Level::warning: return "warning";
    case Level::error: return "error";
  }
  return "info";
}

std::optional<Level> parse_level(std::string_view text) {
  std::string v(text);
  std::transform(v.begin(), v.end(), v.begin(), [](unsigned char c) { return std::tolower(c); });
  if (v == "debug") return Level::debug;
  if (v == "info") return Level::info;
  if (v == "warning" || v == "warn") return Level::warning;
  if (v == "error" || v == "critical") return Level::error;
  return std::nullopt;
}

Logger::Logger(std::string name, std::string file) : name_(std::move(name)), file_(std::move(file)) {}

Logger Logger::bind(const Fields& fields) const {
  Logger out = *this;
  if (fields.is_object()) {
    for (auto it = fields.begin(); it != fields.end(); ++it) out.bound_[it.key()] = it.value();
  }
  return out;
}

bool Logger::enabled(Level level) const { return static_cast<int>(level) >= state().level.load(); }

void Logger::log(Level level, std::string_view event, const Fields& fields) const {
  if (!enabled(level)) return;
  LogRecord r{now_iso(), level, name_, std::string(event), bound_};
  if (fields.is_object()) {
    for (auto it = fields.begin(); it != fields.end(); ++it) r.fields[it.key()] = it.value();
  }
  auto& s = state();
  std::string line = s.json ? render_json(r) : render_console(r);
  s.sink->log(spdlog::details::log_msg(spdlog::source_loc{}, name_, spdlog::level::info, line));
  std::lock_guard lock(s.capture_mu);
  for (auto* c : s.captures) c->add(r);
}

void Logger::debug(std::string_view e, const Fields& f) const { log(Level::debug, e, f); }
void Logger::info(std::string_view e, const Fields& f) const { log(Level::info, e, f); }
void Logger::warning(std::string_view e, const Fields& f) const { log(Level::warning, e, f); }
void Logger::error(std::string_view e, const Fields& f) const { log(Level::error, e, f); }

Logger get_logger(std::string name, std::string file) { return Logger(std::move(name), std::move(file)); }

void set_log_level(Level level) { state().level = static_cast<int>(level); }
Level log_level() { return static_cast<Level>(state().level.load()); }
void set_json_format(bool json) { state().json = json; }

std::string render_console(const LogRecord& r) {
  std::string out = fmt::format("{} [{:<7}] {}", r.timestamp, level_name(r.level), r.event);
  out += fmt::format(" logger={}", r.logger);
  for (auto it = r.fields.begin(); it != r.fields.end(); ++it) {
    out += ' ';
    out += it.key();
    out += '=';
    out += console_value(it.value());
  }
  // One record, one line: never let a value break it.
  std::replace(out.begin(), out.end(), '\n', ' ');
  return out;
}

std::string render_json(const LogRecord& r) {
  Fields j = Fields::object();
  j["timestamp"] = r.timestamp;
  j["level"] = level_name(r.level);
  j["logger"] = r.logger;
  j["event"] = r.event;
  for (auto it = r.fields.begin(); it != r.fields.end(); ++it) j[it.key()] = it.value();
  return j.dump(-1, ' ', false, Fields::error_handler_t::replace);
}

std::string hex(std::string_view bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 0xf];
  }
  return out;
}

std::string hex(const std::vector<unsigned char>& bytes) {
  return hex(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

LogCapture::LogCapture() {
  auto& s = state();
  std::lock_guard lock(s.capture_mu);
  s.captures.push_back(this);
}

LogCapture::~LogCapture() {
  auto& s = state();
  std::lock_guard lock(s.capture_mu);
  s.captures.erase(std::remove(s.captures.begin(), s.captures.end(), this), s.captures.end());
}

void LogCapture::add(const LogRecord& r) {
  std::lock_guard lock(mu_);
  records_.push_back(r);
}

std::vector<LogRecord> LogCapture::records() const {
  std::lock_guard lock(mu_);
  return records_;
}

std::vector<LogRecord> LogCapture::find(std::string_view event, std::optional<Level> level) const {
  std::lock_guard lock(mu_);
  std::vector<LogRecord> out;
  for (const auto& r : records_) {
    if (r.event == event && (!level || r.level == *level)) out.push_back(r);
  }
  return out;
}

bool LogCapture::contains(std::string_view event, std::optional<Level> level) const {
  return !find(event, level).empty();
}

void LogCapture::clear() {
  std::lock_guard lock(mu_);
  records_.clear();
}

}  // namespace meterops::util
