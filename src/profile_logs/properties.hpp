// Reader of the standard properties-file format (as java.util.Properties
// loads it): "key=value", "key: value" or "key value"; "#"/"!" comment
// lines; a line ending in an odd number of backslashes continues on the
// next; escapes \t \n \r \f \uXXXX (surrogate pairs joined, written out as
// UTF-8); any other backslash is dropped. Keys keep their first position
// and their last value.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace meterops::profile_logs {

// Ordered key/value pairs, one entry per distinct key.
class Properties {
 public:
  // Sets `key`, keeping its position when it exists.
  void set(const std::string& key, const std::string& value);
  const std::string* find(const std::string& key) const;
  bool contains(const std::string& key) const { return find(key) != nullptr; }
  const std::vector<std::pair<std::string, std::string>>& entries() const { return entries_; }
  std::size_t size() const { return entries_.size(); }
  bool operator==(const Properties& o) const { return entries_ == o.entries_; }

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
  std::unordered_map<std::string, std::size_t> index_;
};

// Parses properties text (UTF-8). util::ConfigException naming the line for
// text that is not valid UTF-8, a malformed \u escape or an unpaired
// surrogate.
Properties parse_properties(std::string_view text);

// Reads and parses a file; util::ConfigException when it cannot be read.
Properties load_properties_file(const std::string& path);

}  // namespace meterops::profile_logs
