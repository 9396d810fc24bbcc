// Settings of the profile-log fetcher, read from a properties file: the root
// folder (required), the pause in seconds (default 5), test mode, an
// optional ESCO code, and the groups named by "<group>.folder" keys with the
// shared "default.<key>" settings.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "profile_logs/group_config.hpp"
#include "profile_logs/properties.hpp"
#include "util/errors.hpp"

namespace meterops::profile_logs {

using ConfigException = util::ConfigException;

// Group name -> settings, in file order.
using GroupMap = std::vector<std::pair<std::string, GroupConfig>>;

class FetcherSettings {
 public:
  static constexpr const char* CONFIG_PROPERTIES_FILENAME_SUFFIX = "downloader";
  static constexpr const char* PROPERTY_ROOT_FOLDER = "rootfolder";
  static constexpr const char* PROPERTY_SLEEPSECONDS = "sleepseconds";
  static constexpr const char* PROPERTY_TESTMODE = "testmode";
  static constexpr const char* PROPERTY_ESCO = "esco";

  // Reads `filename` afresh on every call.
  static FetcherSettings get_instance(const std::string& filename);

  // ConfigException without a root folder; ValueError for a sleepseconds
  // value that is not a whole number. Prints a notice on standard output
  // when sleepseconds is missing or blank.
  explicit FetcherSettings(const Properties& properties);

  const GroupMap& get_groups() const { return groups_; }
  const std::filesystem::path& get_root_folder() const { return root_folder_; }
  std::int64_t get_sleep_seconds() const { return sleep_seconds_; }
  bool get_test_mode() const { return test_mode_; }
  const std::optional<std::string>& get_esco() const { return esco_; }

  static GroupMap groups_from_properties(const Properties& all_props, const Properties& default_props);
  static std::vector<std::string> group_names_from_properties(const Properties& all_props);
  static Properties defaults_from_properties(const Properties& all_props);

 private:
  std::filesystem::path root_folder_;
  std::int64_t sleep_seconds_ = 5;
  bool test_mode_ = false;
  std::optional<std::string> esco_;
  GroupMap groups_;
};

}  // namespace meterops::profile_logs
