// Frame lists: frames and ranges joined by commas, as pipelines write them.
#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <quorlen/frames.h>

#include "hosting/frames/frame_pattern.h"

namespace {

using namespace quorlen::hosting;

std::vector<int> frames(std::string_view text) { return parse_frame_list(text).frames(); }

std::string error_of(std::string_view text) {
  try {
    parse_frame_list(text);
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::usage) << text;
    return e.what();
  }
  ADD_FAILURE() << text << " was accepted";
  return {};
}

TEST(FrameList, CombinesFramesRangesAndStepsInTheOrderGiven) {
  EXPECT_EQ(frames("1,3,5-10,20-30x2"), (std::vector<int>{1, 3, 5, 6, 7, 8, 9, 10, 20, 22, 24, 26, 28, 30}));
  EXPECT_EQ(frames("1001-1100x50"), (std::vector<int>{1001, 1051}));
  // A chunk as a farm manager writes it, the step after a colon.
  EXPECT_EQ(frames("1-3,5,7-11:2"), (std::vector<int>{1, 2, 3, 5, 7, 9, 11}));
  EXPECT_EQ(frames("10,2"), (std::vector<int>{10, 2}));
  EXPECT_EQ(frames("-3--1,0"), (std::vector<int>{-3, -2, -1, 0}));
  // A frame named again is rendered once, where it first appears.
  EXPECT_EQ(frames("4-6,5,1-4"), (std::vector<int>{4, 5, 6, 1, 2, 3}));
}

TEST(FrameList, NamesTheListAndTheItemThatIsWrong) {
  EXPECT_NE(error_of("").find("the list is empty"), std::string::npos);
  EXPECT_NE(error_of("1,").find("an item between commas is empty"), std::string::npos);
  EXPECT_NE(error_of(",1").find("an item between commas is empty"), std::string::npos);
  EXPECT_NE(error_of("1,,2").find("\"1,,2\""), std::string::npos);
  const std::string bad = error_of("1,5-3,7");
  EXPECT_NE(bad.find("--frames \"1,5-3,7\": item \"5-3\""), std::string::npos) << bad;
  EXPECT_NE(error_of("1,a").find("item \"a\""), std::string::npos);
  EXPECT_NE(error_of("1,2-8:0").find("item \"2-8:0\""), std::string::npos);
  EXPECT_NE(error_of("1,2-8:2x2").find("item \"2-8:2x2\""), std::string::npos);
  // Frames are whole numbers; fractions belong to keyframes only.
  EXPECT_NE(error_of("1.5").find("is not a frame range"), std::string::npos);
  EXPECT_NE(error_of("1,2.5").find("item \"2.5\""), std::string::npos);
  // A list of one item keeps that item's own message.
  EXPECT_NE(error_of("3-1").find("the last frame is before the first"), std::string::npos);
}

TEST(FrameList, CountsEveryItemAgainstTheLimitBeforeListingThem) {
  const std::string half = "1-" + std::to_string(kMaxFrames / 2 + 1);
  const std::string other = std::to_string(kMaxFrames) + "-" + std::to_string(kMaxFrames + kMaxFrames / 2);
  const std::string message = error_of(half + "," + other);
  EXPECT_NE(message.find("more than " + std::to_string(kMaxFrames) + " frames"), std::string::npos)
      << message;
  EXPECT_EQ(frames(half).size(), static_cast<std::size_t>(kMaxFrames / 2 + 1));
}

}  // namespace
