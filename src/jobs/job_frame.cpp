#include "jobs/job_frame.hpp"

#include <cstdlib>

#include "util/errors.hpp"
#include "util/program.hpp"
#include "util/settings.hpp"

namespace meterops::jobs {

void check_environment(const util::Logger& log, const std::vector<EnvCheck>& checks) {
  for (const auto& check : checks) {
    for (const auto& var : check.variables) {
      if (!util::env_text(var.c_str())) {
        log.error(check.message);
        throw util::ExitRequest{check.status};
      }
    }
  }
}

std::string literal_ilike_pattern(const std::string& code) {
  if (code.find('*') != std::string::npos) {
    throw util::UsageError("an ESCO code may not contain '*': " + code);
  }
  std::string out;
  out.reserve(code.size() + 4);
  for (char c : code) {
    if (c == '%' || c == '_' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

std::vector<util::Row> find_escos(const util::Client& db, const std::string& code, const std::string& columns) {
  return util::as_list(db.table("escos").select(columns).ilike("code", literal_ilike_pattern(code)).execute());
}

}  // namespace meterops::jobs
