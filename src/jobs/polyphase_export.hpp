// Exports one three-phase meter's interval profile to one CSV file per day,
// for a single day or an inclusive range of days, one day after another.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mediator/api_core.hpp"
#include "util/logging.hpp"
#include "util/supabase.hpp"
#include "vantor/codec/epoch.hpp"

namespace meterops::jobs {

struct PolyphaseExportOptions {
  std::string serial;
  std::string folder;
  std::optional<std::string> start_day;
  std::optional<std::string> end_day;
  std::optional<std::string> day;
  bool include_statuses = false;
};

class PolyphaseExportJob {
 public:
  // Refuses a serial that could leave the folder (ValueError), creates the
  // folder, checks the settings and looks the meter up (GeneralError).
  explicit PolyphaseExportJob(PolyphaseExportOptions options);

  // Fetches every day; the first failure is logged and raised again.
  void fetch_intervals();

  std::vector<std::string> _generate_date_range() const;
  static vantor::codec::DateTime _parse_day(const std::string& day_str);
  std::string _generate_csv_filename(const std::string& day) const;

 private:
  PolyphaseExportOptions o_;
  std::optional<util::Client> supabase_;
  std::unique_ptr<mediator::VantorMediatorAPI> vantor_client_;
  util::Logger log_;
};

}  // namespace meterops::jobs
