// Structured logger: one logger per module, records made of a fixed event
// text and named fields, written to standard error one atomic line each.
//
//   static const auto log = util::get_logger("jobs.fleet_sync", __FILE__);
//   auto mlog = log.bind({{"serial", serial}});
//   mlog.info("Syncing meter", {{"metrics", 5}});
//
// Console form by default; JSON lines with LOG_FORMAT=json. Threshold from
// LOG_LEVEL (debug, info, warning, error; default info). Safe from many
// threads.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace meterops::util {

using Fields = nlohmann::ordered_json;

enum class Level { debug = 10, info = 20, warning = 30, error = 40 };

// "debug", "info", "warning", "error"; parse accepts any case and "warn".
std::string_view level_name(Level level);
std::optional<Level> parse_level(std::string_view text);

struct LogRecord {
  std::string timestamp;  // ISO 8601 UTC with microseconds
  Level level;
  std::string logger;
  std::string event;
  Fields fields;  // object: bound fields first, then the call's own
};

class Logger {
 public:
  Logger() = default;
  Logger(std::string name, std::string file);

  // A logger that adds `fields` to every line (later binds win on clashes).
  Logger bind(const Fields& fields) const;

  void debug(std::string_view event, const Fields& fields = Fields::object()) const;
  void info(std::string_view event, const Fields& fields = Fields::object()) const;
  void warning(std::string_view event, const Fields& fields = Fields::object()) const;
  void error(std::string_view event, const Fields& fields = Fields::object()) const;
  void log(Level level, std::string_view event, const Fields& fields = Fields::object()) const;

  bool enabled(Level level) const;
  const std::string& name() const { return name_; }
  const std::string& file() const { return file_; }
  const Fields& bound() const { return bound_; }

 private:
  std::string name_;
  std::string file_;
  Fields bound_ = Fields::object();
};

// The module logger for `name` (a dotted module name) and its source file.
Logger get_logger(std::string name, std::string file);

// Process-wide threshold and output form; read from LOG_LEVEL / LOG_FORMAT on
// first use, and settable (for programs with a --log-level option and tests).
void set_log_level(Level level);
Level log_level();
void set_json_format(bool json);

// Renders one record in the console or JSON form (no trailing newline).
std::string render_console(const LogRecord& record);
std::string render_json(const LogRecord& record);

// Lowercase hex, two digits per byte, no separators: the form of byte values
// in log fields.
std::string hex(std::string_view bytes);
std::string hex(const std::vector<unsigned char>& bytes);

// While alive, every record written (at or above the threshold) is also kept
// here. For tests; captures from all threads.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LogRecord> records() const;
  // Records whose event equals `event` (and level, when given).
  std::vector<LogRecord> find(std::string_view event, std::optional<Level> level = std::nullopt) const;
  bool contains(std::string_view event, std::optional<Level> level = std::nullopt) const;
  void clear();

  void add(const LogRecord& r);  // called by the logger

 private:
  mutable std::mutex mu_;
  std::vector<LogRecord> records_;
};

}  // namespace meterops::util
