// The shared string helpers: ASCII-only case folding, dotted names, one-line messages, escapes, quoting,
// trimming and suggestions for near misses.
#include "text/strings.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace quorlen::text {
namespace {

TEST(Strings, CaseFoldingIsAsciiOnlyAndLeavesOtherBytes) {
  EXPECT_EQ(lower("ViewLayer.DiffCol"), "viewlayer.diffcol");
  EXPECT_EQ(lower("\xC3\x89t\xC3\xA9"), "\xC3\x89t\xC3\xA9");  // UTF-8 bytes are not letters here
  EXPECT_TRUE(equal_ignoring_case("Normal", "nORMAL"));
  EXPECT_FALSE(equal_ignoring_case("Normal", "Normals"));
  EXPECT_FALSE(equal_ignoring_case("[", "{"));  // 0x5b and 0x7b differ by the case bit but are not letters
}

TEST(Strings, DottedNamesSplitAtTheLastDot) {
  EXPECT_EQ(last_word("ViewLayer.Normal"), "Normal");
  EXPECT_EQ(last_word("N"), "N");
  EXPECT_EQ(last_word("a.b.c"), "c");
  EXPECT_EQ(last_word(""), "");
  EXPECT_EQ(last_word("trailing."), "");
  EXPECT_EQ(before_last_dot("ViewLayer.Normal.X"), "ViewLayer.Normal");
  EXPECT_EQ(before_last_dot("R"), "");
  EXPECT_EQ(before_last_dot(".X"), "");
}

TEST(Strings, JoinAndOneLine) {
  EXPECT_EQ(join(std::vector<std::string>{}), "");
  EXPECT_EQ(join(std::vector<std::string>{"a"}), "a");
  EXPECT_EQ(join(std::array<const char*, 3>{"x", "y", "z"}, "|"), "x|y|z");
  EXPECT_EQ(one_line("first\nsecond\r\nthird \n"), "first second  third");
  EXPECT_EQ(one_line(" \n"), "unknown error");
}

TEST(Strings, ControlBytesAreEscapedAndEverythingElseKept) {
  EXPECT_EQ(escape_controls("N.X"), "N.X");
  EXPECT_EQ(escape_controls("a\fb\rc\nd\te\x01\x7f"), "a\\x0cb\\rc\\nd\\te\\x01\\x7f");
  EXPECT_EQ(escape_controls(std::string("nul\0here", 8)), "nul\\x00here");
  EXPECT_EQ(escape_controls("caf\xC3\xA9"), "caf\xC3\xA9");  // UTF-8 passes through
}

TEST(Strings, QuotedValuesShowTheirEndsOnOneLine) {
  EXPECT_EQ(in_quotes(""), "\"\"");
  EXPECT_EQ(in_quotes("point"), "\"point\"");
  // A quote or backslash inside must not be read as the end of the value or as an escape.
  EXPECT_EQ(in_quotes("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(in_quotes("x\ny\r\x01"), "\"x\\ny\\r\\x01\"");
  EXPECT_EQ(in_quotes(std::string("\0", 1)), "\"\\x00\"");
}

TEST(Strings, TrimDropsAsciiSpaceAtBothEndsOnly) {
  EXPECT_EQ(trim(" \t\n\r\f\v1.5 2\v\f\r\n\t "), "1.5 2");
  EXPECT_EQ(trim("   "), "");
  EXPECT_EQ(trim(""), "");
  EXPECT_EQ(trim("\xA0x\xA0"), "\xA0x\xA0");  // a Latin-1 no-break space is not ASCII space
  static_assert(trim("  a ") == "a");
}

TEST(Strings, ClosestMatchSuggestsOnlyAClearNearMiss) {
  const std::vector<std::string> commands = {"render", "knobs", "demo", "view", "help"};
  EXPECT_EQ(closest_match("rendr", commands), "render");
  EXPECT_EQ(closest_match("KNOBS", commands), "knobs");  // case is not an edit
  EXPECT_EQ(closest_match("xyzzy", commands), "");
  EXPECT_EQ(closest_match("vie", commands), "view");
  // "hel" is one edit from "help" only; "dem" one from "demo" only; "vew" ties nothing.
  EXPECT_EQ(closest_match("hel", commands), "help");
  const std::vector<std::string> twins = {"cat", "car"};
  EXPECT_EQ(closest_match("ca", twins), "");  // equally near: no guess
  EXPECT_EQ(edit_distance("kitten", "sitting"), 3u);
  EXPECT_EQ(edit_distance("", "abc"), 3u);
}

}  // namespace
}  // namespace quorlen::text
