#include "profile_logs/properties.hpp"

#include <gtest/gtest.h>

#include "util/errors.hpp"

using meterops::profile_logs::parse_properties;
using Entries = std::vector<std::pair<std::string, std::string>>;

namespace {
Entries parse(const std::string& text) { return parse_properties(text).entries(); }
}  // namespace

TEST(Properties, SeparatorsAndWhiteSpace) {
  EXPECT_EQ(parse("a=1\nb: 2\nc 3\n  d   =   4  \ne\t:\tfive\nf\n g = \n"),
            (Entries{{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4  "}, {"e", "five"}, {"f", ""}, {"g", ""}}));
  // After a white-space separator one '=' or ':' is still taken as the separator.
  EXPECT_EQ(parse("k  = v\nm :x\nn  v = w"), (Entries{{"k", "v"}, {"m", "x"}, {"n", "v = w"}}));
  EXPECT_EQ(parse("a==b\nc=:d"), (Entries{{"a", "=b"}, {"c", ":d"}}));
}

TEST(Properties, CommentsBlankLinesAndLineEnds) {
  EXPECT_EQ(parse("# c\n! c\n   # indented\n\n\t\nx=1\r\ny=2\rz=3"),
            (Entries{{"x", "1"}, {"y", "2"}, {"z", "3"}}));
  // A comment line ending in a backslash does not continue.
  EXPECT_EQ(parse("# comment \\\nk=v"), (Entries{{"k", "v"}}));
}

TEST(Properties, Continuations) {
  EXPECT_EQ(parse("list = a, \\\n       b, \\\n   c\n"), (Entries{{"list", "a, b, c"}}));
  // An even number of trailing backslashes is an escaped backslash, no continuation.
  EXPECT_EQ(parse("p = x\\\\\nq = y"), (Entries{{"p", "x\\"}, {"q", "y"}}));
  // Three backslashes: one escaped backslash and a continuation.
  EXPECT_EQ(parse("p = x\\\\\\\n  y"), (Entries{{"p", "x\\y"}}));
  // A continued line starting with '#' is content, not a comment.
  EXPECT_EQ(parse("k = a\\\n#b"), (Entries{{"k", "a#b"}}));
  // A backslash at the very end of input is dropped.
  EXPECT_EQ(parse("k = v\\"), (Entries{{"k", "v"}}));
  // The continuation joins the key too.
  EXPECT_EQ(parse("ke\\\n  y=v"), (Entries{{"key", "v"}}));
}

TEST(Properties, Escapes) {
  EXPECT_EQ(parse("a\\=b=c\\:d\nsp\\ ace = v\ntabs=\\t\\n\\r\\f\nother=\\q\\\\z"),
            (Entries{{"a=b", "c:d"}, {"sp ace", "v"}, {"tabs", "\t\n\r\f"}, {"other", "q\\z"}}));
  EXPECT_EQ(parse("u=\\u00e9\\u20AC\npair=\\uD83D\\uDE00"),
            (Entries{{"u", "\xC3\xA9\xE2\x82\xAC"}, {"pair", "\xF0\x9F\x98\x80"}}));
  EXPECT_EQ(parse("raw=caf\xC3\xA9"), (Entries{{"raw", "caf\xC3\xA9"}}));
}

TEST(Properties, DuplicateKeysKeepFirstPositionAndLastValue) {
  EXPECT_EQ(parse("a=1\nb=2\na=3"), (Entries{{"a", "3"}, {"b", "2"}}));
}

TEST(Properties, BadInputNamesTheLine) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a=1\nb=\\u12G4\n", "line 2"},
      {"a=1\n\nb=\\u12", "line 3"},
      {"ok=1\nbad=\xFF\xFE\n", "line 2"},
      {"x=\\uD83D alone", "line 1"},
      {"x=\\uDE00", "line 1"},
      {"x=\xC0\xAF", "line 1"},
  };
  for (const auto& [text, where] : cases) {
    try {
      parse(text);
      ADD_FAILURE() << "no error for " << text;
    } catch (const meterops::util::ConfigException& e) {
      EXPECT_NE(std::string(e.what()).find(where), std::string::npos) << e.what();
    }
  }
}

TEST(Properties, NastyLines) {
  const std::vector<std::pair<std::string, Entries>> cases = {
      // Lines are joined before escapes are read: an escape may span a continuation.
      {"k=\\u00\\\n   e9", {{"k", "\xC3\xA9"}}},
      // An escaped backslash right before the separator leaves the separator working.
      {"key\\\\=v", {{"key\\", "v"}}},
      // A continuation followed by an empty line ends the entry there.
      {"a=b\\\n\nc=d", {{"a", "b"}, {"c", "d"}}},
      // Continuations across CRLF line ends.
      {"a=1\\\r\n  2\r\nb=3\r\n", {{"a", "12"}, {"b", "3"}}},
      // Separators and white space inside an escaped key; the value keeps inner separators.
      {"\\:\\=\\ k\\#=x=y:z", {{":= k#", "x=y:z"}}},
      // A key alone on a line, with or without trailing white space.
      {"lonely\nlonely2   \n", {{"lonely", ""}, {"lonely2", ""}}},
      // A byte-order mark before the first key is not part of it.
      {"\xEF\xBB\xBF" "first=1", {{"first", "1"}}},
      // Four-byte UTF-8 text passes through unchanged.
      {"emoji=\xF0\x9F\x98\x80 ok", {{"emoji", "\xF0\x9F\x98\x80 ok"}}},
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(parse(text), want) << text;
}
