// Frame ranges and the substitution of frame numbers into paths.
#include "hosting/frames/frame_pattern.h"

#include <gtest/gtest.h>
#include <quorlen/errors.h>

namespace {

using namespace quorlen::hosting;

struct RangeCase {
  const char* text;
  std::vector<int> frames;
};

TEST(FrameRange, ParsesSingleFramesRangesAndSteps) {
  const RangeCase cases[] = {
      {"7", {7}},        {"1-3", {1, 2, 3}},       {"1001-1005x2", {1001, 1003, 1005}},
      {"1-6x4", {1, 5}}, {"-2-1", {-2, -1, 0, 1}}, {"-5--3", {-5, -4, -3}},
      {"0-0", {0}},      {"3-3x10", {3}},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_frame_range(c.text).frames(), c.frames) << c.text;
}

TEST(FrameRange, RejectsMalformedAndBackwardRangesAsUsageErrors) {
  for (const char* text : {"", "a", "1-", "-", "1-3x", "1-3x0", "1-3x-1", "5-1", "1x2", "1-3y2", "1..3",
                           " 1-3", "1-3 ", "99999999999-1"}) {
    try {
      parse_frame_range(text);
      ADD_FAILURE() << "accepted \"" << text << "\"";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::usage) << text;
      EXPECT_NE(std::string(e.what()).find("--frames"), std::string::npos) << e.what();
    }
  }
}

TEST(FrameRange, RefusesMoreFramesThanOneRunRendersBeforeListingThem) {
  EXPECT_EQ(parse_frame_range("1-1000000").frames().size(), 1000000u);
  EXPECT_EQ(parse_frame_range("-2147483648-2147483647x4295").frames().size(), 999993u);
  for (const char* text :
       {"1-1000001", "0-2147483647", "-2147483648-2147483647", "-2147483648-2147483647x4294"}) {
    try {
      parse_frame_range(text);
      ADD_FAILURE() << "accepted \"" << text << "\"";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::usage) << text;
      EXPECT_NE(std::string(e.what()).find("at most 1000000 are rendered"), std::string::npos) << e.what();
    }
  }
}

TEST(FramePattern, RecognisesHashesAndPrintfDigits) {
  for (const char* p : {"a.#.exr", "a.####.exr", "a.%04d.exr", "a.%d.exr", "shot_%02d/b.exr", "#"})
    EXPECT_TRUE(has_frame_pattern(p)) << p;
  for (const char* p : {"a.exr", "100%.exr", "a.%s.exr", "a.%4d.exr", "a.%0d.exr", "a%", "a.%0"})
    EXPECT_FALSE(has_frame_pattern(p)) << p;
}

struct SubstituteCase {
  const char* path;
  int frame;
  const char* expected;
};

TEST(FramePattern, SubstitutesEveryPatternWithItsPadding) {
  const SubstituteCase cases[] = {
      {"a.####.exr", 7, "a.0007.exr"},      {"a.#.exr", 7, "a.7.exr"},
      {"a.##.exr", 1234, "a.1234.exr"},     {"a.%04d.exr", 42, "a.0042.exr"},
      {"a.%d.exr", 42, "a.42.exr"},         {"a.%06d.exr", -3, "a.-000003.exr"},
      {"a.####.exr", -12, "a.-0012.exr"},   {"s##/f.####.exr", 5, "s05/f.0005.exr"},
      {"100%.%03d.exr", 9, "100%.009.exr"}, {"plain.exr", 9, "plain.exr"},
  };
  for (const auto& c : cases) EXPECT_EQ(substitute_frame(c.path, c.frame), c.expected) << c.path;
}

}  // namespace
