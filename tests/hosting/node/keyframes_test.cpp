// Keys of animated values as an editor writes them: a frame written two ways is one key, and key texts
// read back as the frames they were written for.
#include <gtest/gtest.h>
#include <quorlen/keyframes.h>

#include <cmath>

namespace {

using namespace quorlen::hosting;
using nlohmann::json;

TEST(Keyframes, AKeyWrittenAnotherWayForTheSameFrameIsReplacedNotDoubled) {
  json animated = json::parse(R"({"keys": {"12.0": 1, "1001": 2, "7.5": 3}, "interpolation": "smooth"})");
  set_key(animated, 12, 9);
  set_key(animated, 7.5, 8);
  set_key(animated, 1100, 4);
  EXPECT_EQ(animated, json::parse(R"({"keys": {"12.0": 9, "1001": 2, "7.5": 8, "1100": 4},
                                      "interpolation": "smooth"})"));
  EXPECT_EQ(key_frames(animated), (std::vector<double>{7.5, 12, 1001, 1100}));
  // A fresh value becomes animated by its first key.
  json fresh = json::object();
  set_key(fresh, -3, 0.5);
  EXPECT_TRUE(is_animated(fresh));
  EXPECT_EQ(fresh.dump(), R"({"keys":{"-3":0.5}})");
}

TEST(Keyframes, KeyTextsAndFramesRoundTripAndOtherTextNamesNoFrame) {
  for (const double frame : {0.0, -12.0, 1001.0, 12.5, 1e14, -0.25})
    EXPECT_EQ(key_frame(key_text(frame)), frame) << key_text(frame);
  EXPECT_EQ(key_text(1001), "1001");
  for (const char* text : {"", "abc", "12a", " 12", "1e999", "nan", "inf"})
    EXPECT_EQ(key_frame(text), std::nullopt) << '"' << text << '"';
  EXPECT_TRUE(key_frames(json::parse(R"({"keys": {"x": 1, "2": 0}})")) == std::vector<double>{2});
  EXPECT_TRUE(key_frames(json(3)).empty());
  EXPECT_FALSE(is_animated(json::parse(R"({"key": {}})")));
}

}  // namespace
