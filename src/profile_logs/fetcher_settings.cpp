#include "profile_logs/fetcher_settings.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iostream>

namespace meterops::profile_logs {

namespace {

std::string remove_all(std::string s, const std::string& what) {
  for (auto pos = s.find(what); pos != std::string::npos; pos = s.find(what, pos)) s.erase(pos, what.size());
  return s;
}

bool blank(const std::string& s) {
  for (unsigned char c : s) {
    if (!std::isspace(c)) return false;
  }
  return true;
}

std::int64_t to_int(const std::string& text) {
  std::size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  const char* first = text.data() + b;
  const char* last = text.data() + e;
  if (first != last && *first == '+' && last - first > 1 && first[1] != '-') ++first;
  std::int64_t v = 0;
  auto [ptr, ec] = std::from_chars(first, last, v);
  if (first == last || ec != std::errc() || ptr != last) {
    throw util::ValueError("invalid literal for sleepseconds: '" + text + "'");
  }
  return v;
}

}  // namespace

FetcherSettings FetcherSettings::get_instance(const std::string& filename) {
  return FetcherSettings(load_properties_file(filename));
}

FetcherSettings::FetcherSettings(const Properties& properties) {
  const std::string* root = properties.find(PROPERTY_ROOT_FOLDER);
  if (!root || root->empty()) {
    throw ConfigException("no rootfolder property set - specify a rootfolder to download the files to");
  }
  Properties default_props = defaults_from_properties(properties);
  std::string sleep_text;
  const std::string* sleep = properties.find(PROPERTY_SLEEPSECONDS);
  if (!sleep || blank(*sleep)) {
    std::cout << "sleepseconds not set - defaulting to 5 seconds" << std::endl;
    sleep_text = "5";
  } else {
    sleep_text = *sleep;
  }
  const std::string* testmode = properties.find(PROPERTY_TESTMODE);
  const std::string* esco = properties.find(PROPERTY_ESCO);
  root_folder_ = *root;
  sleep_seconds_ = to_int(sleep_text);
  test_mode_ = testmode && *testmode == "yes";
  if (esco) esco_ = *esco;
  groups_ = groups_from_properties(properties, default_props);
}

Properties FetcherSettings::defaults_from_properties(const Properties& all_props) {
  Properties out;
  for (const auto& [key, value] : all_props.entries()) {
    if (key.rfind("default.", 0) == 0) out.set(remove_all(key, "default."), value);
  }
  return out;
}

std::vector<std::string> FetcherSettings::group_names_from_properties(const Properties& all_props) {
  std::vector<std::string> names;
  const std::string suffix = ".folder";
  for (const auto& [key, value] : all_props.entries()) {
    if (key.size() >= suffix.size() && key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0) {
      names.push_back(remove_all(key, suffix));
    }
  }
  return names;
}

GroupMap FetcherSettings::groups_from_properties(const Properties& all_props, const Properties& default_props) {
  GroupMap groups;
  for (const auto& name : group_names_from_properties(all_props)) {
    auto cfg = GroupConfig::get_instance_from_properties(name, all_props, default_props);
    auto it = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == name; });
    if (it != groups.end()) {
      it->second = std::move(cfg);
    } else {
      groups.emplace_back(name, std::move(cfg));
    }
  }
  return groups;
}

}  // namespace meterops::profile_logs
