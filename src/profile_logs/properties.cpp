#include "profile_logs/properties.hpp"

#include <fstream>
#include <sstream>

#include "util/errors.hpp"

namespace meterops::profile_logs {

namespace {

bool is_ws(char c) { return c == ' ' || c == '\t' || c == '\f'; }

[[noreturn]] void fail(std::size_t line, const std::string& what) {
  throw util::ConfigException("properties line " + std::to_string(line) + ": " + what);
}

// Position of the first byte that is not part of valid UTF-8, or npos.
std::size_t invalid_utf8_at(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    std::size_t n;
    char32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3;
      cp = c & 0x07;
    } else {
      return i;
    }
    for (std::size_t k = 1; k <= n; ++k) {
      if (i + k >= s.size()) return i;
      auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return i;
      cp = (cp << 6) | (cc & 0x3F);
    }
    bool overlong = (n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return i;
    i += n + 1;
  }
  return std::string_view::npos;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Resolves escapes of one key or value.
std::string unescape(std::string_view s, std::size_t line) {
  std::string out;
  out.reserve(s.size());
  char32_t pending_high = 0;  // a high surrogate waiting for its low half
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c != '\\') {
      if (pending_high) fail(line, "unpaired surrogate in \\u escape");
      out += c;
      continue;
    }
    if (i + 1 >= s.size()) break;  // a lone trailing backslash is dropped
    c = s[++i];
    if (c == 'u') {
      if (i + 4 >= s.size()) fail(line, "malformed \\uxxxx escape");
      char32_t unit = 0;
      for (int k = 1; k <= 4; ++k) {
        int d = hex_digit(s[i + k]);
        if (d < 0) fail(line, "malformed \\uxxxx escape");
        unit = (unit << 4) | static_cast<char32_t>(d);
      }
      i += 4;
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (pending_high) fail(line, "unpaired surrogate in \\u escape");
        pending_high = unit;
        continue;
      }
      if (unit >= 0xDC00 && unit <= 0xDFFF) {
        if (!pending_high) fail(line, "unpaired surrogate in \\u escape");
        append_utf8(out, 0x10000 + ((pending_high - 0xD800) << 10) + (unit - 0xDC00));
        pending_high = 0;
        continue;
      }
      if (pending_high) fail(line, "unpaired surrogate in \\u escape");
      append_utf8(out, unit);
      continue;
    }
    if (pending_high) fail(line, "unpaired surrogate in \\u escape");
    switch (c) {
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 'f': out += '\f'; break;
      default: out += c;  // the backslash is dropped
    }
  }
  if (pending_high) fail(line, "unpaired surrogate in \\u escape");
  return out;
}

}  // namespace

void Properties::set(const std::string& key, const std::string& value) {
  auto [it, inserted] = index_.try_emplace(key, entries_.size());
  if (inserted) {
    entries_.emplace_back(key, value);
  } else {
    entries_[it->second].second = value;
  }
}

const std::string* Properties::find(const std::string& key) const {
  auto it = index_.find(key);
  return it == index_.end() ? nullptr : &entries_[it->second].second;
}

Properties parse_properties(std::string_view text) {
  if (auto bad = invalid_utf8_at(text); bad != std::string_view::npos) {
    std::size_t line = 1;
    for (std::size_t i = 0; i < bad; ++i) line += text[i] == '\n';
    fail(line, "not valid UTF-8");
  }
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  // Split into natural lines (\n, \r or \r\n), keeping their numbers.
  std::vector<std::string_view> lines;
  for (std::size_t i = 0; i <= text.size();) {
    std::size_t j = text.find_first_of("\r\n", i);
    if (j == std::string_view::npos) {
      if (i < text.size()) lines.push_back(text.substr(i));
      break;
    }
    lines.push_back(text.substr(i, j - i));
    i = j + ((text[j] == '\r' && j + 1 < text.size() && text[j + 1] == '\n') ? 2 : 1);
  }

  Properties props;
  std::size_t n = 0;
  while (n < lines.size()) {
    std::string_view first = lines[n];
    std::size_t start_line = n + 1;
    std::size_t b = 0;
    while (b < first.size() && is_ws(first[b])) ++b;
    ++n;
    if (b == first.size()) continue;                    // blank
    if (first[b] == '#' || first[b] == '!') continue;   // comment: never continues
    std::string logical(first.substr(b));
    // Continuation: an odd number of trailing backslashes.
    auto odd_backslashes = [](const std::string& s) {
      std::size_t k = 0;
      while (k < s.size() && s[s.size() - 1 - k] == '\\') ++k;
      return k % 2 == 1;
    };
    while (odd_backslashes(logical)) {
      logical.pop_back();
      if (n >= lines.size()) break;  // at the end of input the backslash just goes
      std::string_view next = lines[n];
      std::size_t k = 0;
      while (k < next.size() && is_ws(next[k])) ++k;
      ++n;
      logical.append(next.substr(k));
    }
    // Key ends at the first unescaped separator or white space.
    std::size_t key_end = 0;
    bool escaped = false, has_sep = false;
    std::size_t value_start = logical.size();
    for (; key_end < logical.size(); ++key_end) {
      char c = logical[key_end];
      if (!escaped && (c == '=' || c == ':')) {
        value_start = key_end + 1;
        has_sep = true;
        break;
      }
      if (!escaped && is_ws(c)) {
        value_start = key_end + 1;
        break;
      }
      escaped = c == '\\' ? !escaped : false;
    }
    while (value_start < logical.size()) {
      char c = logical[value_start];
      if (!is_ws(c)) {
        if (!has_sep && (c == '=' || c == ':')) {
          has_sep = true;
        } else {
          break;
        }
      }
      ++value_start;
    }
    std::string key = unescape(std::string_view(logical).substr(0, key_end), start_line);
    std::string value = unescape(std::string_view(logical).substr(std::min(value_start, logical.size())), start_line);
    props.set(key, value);
  }
  return props;
}

Properties load_properties_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw util::ConfigException("cannot read properties file " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) throw util::ConfigException("cannot read properties file " + path);
  try {
    return parse_properties(ss.str());
  } catch (const util::ConfigException& e) {
    throw util::ConfigException(path + ": " + e.what());
  }
}

}  // namespace meterops::profile_logs
